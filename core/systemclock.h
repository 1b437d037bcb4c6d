#pragma once

#include "engineclock.h"

// The real clock: steady_clock for elapsed time, localtime_r for the time of day, a
// condition-variable wait for sleeping (one wake-up per sleep, none in between).
class CSystemClock final : public EngineClock
{
public:
    std::chrono::milliseconds Elapsed() override;
    int LocalSecondsOfDay() override;
    void Sleep(std::chrono::milliseconds duration, CWakeSignal& wake) override;
};
