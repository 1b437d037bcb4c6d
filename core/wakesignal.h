#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// A wake-up for a sleeping thread: Wake() from any thread ends the current or the next
// WaitFor() at once. One waiter at a time.
class CWakeSignal
{
public:
    void Wake();
    // Waits up to `duration`; true when woken (the signal is then consumed).
    bool WaitFor(std::chrono::milliseconds duration);
    // Consumes a pending signal without waiting; true when there was one.
    bool Take();

private:
    std::mutex lock_;
    std::condition_variable cv_;
    bool signalled_ = false;
};
