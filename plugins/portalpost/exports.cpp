// The exported C functions of libportalpost: argument checks, the catch-all that keeps
// exceptions inside the library, and the one place a check's reason of failure leaves it.
#include "hiddensecret.h"
#include "portalpostcheck.h"
#include "postwatch_plugin.h"
#include "printabletext.h"

#include <iterator>
#include <new>
#include <string>
#include <string_view>

namespace
{

// Hands `code` back, telling the program why first when it is a failure. The clients'
// words name URLs, statuses and files, never the password; a server could still echo it, so
// it is taken out here, where every result passes. Never throws.
int32_t Answer(const PwSink* sink, int32_t code, std::string_view said,
               const char* password) noexcept
{
    if (code == PW_WEBMAIL_SUCCESS || !sink || !sink->failure || said.empty())
        return code;
    try {
        std::string why(said);
        HideSecret(why, password ? password : "");
        const std::string text = BoundedPrintableText(why, PW_FAILURE_TEXT_MAX);
        sink->failure(sink->ctx, text.c_str());
    } catch (...) {
        // Without memory for the words the code alone goes back.
    }
    return code;
}

} // namespace

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
    if (!sink)
        return PW_WEBMAIL_FAILED;
    if (!category || !account || !userName || !password)
        return Answer(sink, PW_WEBMAIL_FAILED,
                      "the program passed no category, account, user name or password", nullptr);
    int32_t code = PW_WEBMAIL_FAILED;
    std::string why;
    std::string_view said;
    try {
        PortalpostCheckArgs args{sink, category, account, userName, password, timeOutSeconds};
        code = RunPortalpostCheck(args, count, why);
        said = why;
    } catch (const std::bad_alloc&) {
        code = PW_WEBMAIL_FAILED;
        said = "not enough memory for the check";
    } catch (...) {
        code = PW_WEBMAIL_FAILED;
        said = "the check stopped on an unexpected error";
    }
    return Answer(sink, code, said, password);
}
}
