#pragma once

#include <chrono>

class CWakeSignal;

// Time as the worker sees it, injectable so that tests run hours of schedule in
// milliseconds.
//
// - Elapsed(): a monotonic time (for drain limits), never set back.
// - LocalSecondsOfDay(): the local wall-clock time of day, 0..86399, for the daily check.
// - Sleep(): waits up to `duration`, or less when `wake` is signalled (the signal is
//   consumed). A test clock advances its time by `duration` instead of waiting.
//
// Threads: called from the worker thread only.
class EngineClock
{
public:
    virtual ~EngineClock() = default;
    virtual std::chrono::milliseconds Elapsed() = 0;
    virtual int LocalSecondsOfDay() = 0;
    virtual void Sleep(std::chrono::milliseconds duration, CWakeSignal& wake) = 0;
};
