#include "checkrecords.h"

const char* CheckResultMeaning(int32_t result)
{
    switch (result) {
    case CheckResult::kNoMemory:
        return "out of memory";
    case CheckResult::kFailedAfterLogin:
        return "failed after login";
    case CheckResult::kLoginRefused:
        return "login refused";
    case CheckResult::kCannotConnect:
        return "cannot connect";
    case CheckResult::kDone:
        return "done";
    default:
        return "unknown result";
    }
}

const char* WebMailResultMeaning(int32_t result)
{
    switch (result) {
    case WebMailResult::kTimeOut:
        return "the server did not answer in time";
    case WebMailResult::kLoginRefused:
        return "login refused";
    case WebMailResult::kHttpError:
        return "HTTP error";
    case WebMailResult::kDone:
        return "done";
    case WebMailResult::kFailed:
        return "failed";
    default:
        return "unknown result";
    }
}
