#include "neterror.h"

#include <utility>

namespace
{
thread_local NetError g_lastError;
}

bool SetNetError(int code, NetCategory category, std::string message)
{
    g_lastError.code = code;
    g_lastError.category = category;
    g_lastError.message = std::move(message);
    return false;
}

void ClearNetError()
{
    g_lastError = NetError{};
}

const NetError& LastNetError()
{
    return g_lastError;
}

int LastNetErrorCode()
{
    return g_lastError.code;
}
