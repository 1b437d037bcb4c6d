// The exported C functions of libportalpost: argument checks and the catch-all that keeps
// exceptions inside the library.
#include "portalpostcheck.h"
#include "postwatch_plugin.h"

#include <iterator>

extern "C" {

uint32_t PortalpostAbiVersion(void)
{
    return POSTWATCH_PLUGIN_ABI_VERSION;
}

int32_t GetPortalpostCategory(const char** categories)
{
    if (!categories)
        return 0;
    int32_t n = 0;
    for (const char* name : kPortalpostCategories)
        categories[n++] = name;
    return n;
}

int32_t CheckPortalpostMsg(const PwSink* sink, const char* category, const char* account,
                           const char* userName, const char* password, int32_t* newCount,
                           int32_t timeOutSeconds)
{
    int32_t ignored = 0;
    int32_t& count = newCount ? *newCount : ignored;
    count = 0;
    if (!sink || !category || !account || !userName || !password)
        return PW_WEBMAIL_FAILED;
    try {
        PortalpostCheckArgs args{sink, category, account, userName, password, timeOutSeconds};
        return RunPortalpostCheck(args, count);
    } catch (...) {
        return PW_WEBMAIL_FAILED;
    }
}
}
