#include "wakesignal.h"

void CWakeSignal::Wake()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        signalled_ = true;
    }
    cv_.notify_all();
}

bool CWakeSignal::WaitFor(std::chrono::milliseconds duration)
{
    std::unique_lock<std::mutex> guard(lock_);
    bool woken = cv_.wait_for(guard, duration, [this] { return signalled_; });
    signalled_ = false;
    return woken;
}

bool CWakeSignal::Take()
{
    std::lock_guard<std::mutex> guard(lock_);
    bool was = signalled_;
    signalled_ = false;
    return was;
}
