#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// Lets the engine end a running check from outside, so that a check stuck on a silent
// server cannot keep the program alive after exit.
//
// The check's transport registers what ends its blocking calls (for a socket: shutdown()
// of its descriptor, which wakes a poll() at once); Cancel() sets the flag and runs those
// hooks once. A hook registered after Cancel() runs at once in Register(). Protocol code
// may also poll IsCancelled() between commands.
//
// Threads: Cancel() from any thread; Register/Unregister from the check's thread. Hooks
// run on the cancelling thread (or the registering one, see above) and must be quick and
// must not block.
class CCheckCancel
{
public:
    using Hook = std::function<void()>;

    bool IsCancelled() const { return cancelled_.load(std::memory_order_acquire); }
    void Cancel();

    // Returns an id for Unregister; runs `hook` at once (and returns 0) when already
    // cancelled.
    int Register(Hook hook);
    void Unregister(int id);

private:
    struct Entry {
        int id;
        Hook hook;
    };
    std::atomic<bool> cancelled_{false};
    std::mutex lock_;
    std::vector<Entry> hooks_;
    int nextId_ = 1;
};
