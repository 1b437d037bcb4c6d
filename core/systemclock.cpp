#include "systemclock.h"

#include "wakesignal.h"

#include <ctime>

std::chrono::milliseconds CSystemClock::Elapsed()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

int CSystemClock::LocalSecondsOfDay()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

void CSystemClock::Sleep(std::chrono::milliseconds duration, CWakeSignal& wake)
{
    wake.WaitFor(duration);
}
