// The exported C functions of libmapiprobe: argument checks and the catch-all that keeps
// exceptions inside the library.
#include "mapiprobesession.h"
#include "postwatch_plugin.h"

#include <cstring>

extern "C" {

uint32_t MapiprobeAbiVersion(void)
{
    return POSTWATCH_PLUGIN_ABI_VERSION;
}

int32_t LogonExchange(const PwSink* sink, const char* profile, const char* account,
                      int32_t logonDialog, int32_t* newCount, uint32_t bodyLimit)
{
    int32_t ignored = 0;
    int32_t& count = newCount ? *newCount : ignored;
    if (!sink || !profile || !account)
        return PW_LOGON_FAILED;
    try {
        return MapiprobeSession::Instance().Logon(*sink, profile, account, logonDialog, count,
                                                  bodyLimit);
    } catch (...) {
        return PW_LOGON_FAILED;
    }
}

void LogoffExchange(const PwSink* sink)
{
    try {
        MapiprobeSession::Instance().Logoff(sink);
    } catch (...) {
    }
}

int32_t GetProfiles(char** names)
{
    if (!names)
        return 0;
    try {
        int32_t n = 0;
        for (const std::string& name : MapiprobeSession::Instance().Profiles()) {
            if (n == PW_PROFILES_MAX)
                break;
            if (name.size() + 1 > PW_PROFILE_NAME_SIZE || !names[n])
                continue;
            std::memcpy(names[n], name.c_str(), name.size() + 1);
            ++n;
        }
        return n;
    } catch (...) {
        return 0;
    }
}

int32_t CheckMapiExist(void)
{
    try {
        return MapiprobeSession::Instance().ProviderPresent() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
}
