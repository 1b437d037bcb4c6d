#include "crashpoint.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

void CrashPoint(const char* step)
{
    // Read at every call (not cached) so a test process can arm it after start-up.
    const char* armed = std::getenv("POSTWATCH_CRASH_AT");
    if (armed && std::strcmp(armed, step) == 0)
        ::kill(::getpid(), SIGKILL);
}

bool FaultPoint(const char* step)
{
    const char* armed = std::getenv("POSTWATCH_FAIL_AT");
    return armed && std::strcmp(armed, step) == 0;
}
