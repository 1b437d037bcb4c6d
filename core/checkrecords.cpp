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
