#include "checkcancel.h"

void CCheckCancel::Cancel()
{
    std::vector<Entry> hooks;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (cancelled_.exchange(true, std::memory_order_acq_rel))
            return;
        hooks.swap(hooks_);
    }
    // Outside the lock: a hook may take locks of the transport.
    for (Entry& e : hooks)
        e.hook();
}

int CCheckCancel::Register(Hook hook)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!cancelled_.load(std::memory_order_acquire)) {
            int id = nextId_++;
            hooks_.push_back({id, std::move(hook)});
            return id;
        }
    }
    hook();
    return 0;
}

void CCheckCancel::Unregister(int id)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = hooks_.begin(); it != hooks_.end(); ++it) {
        if (it->id == id) {
            hooks_.erase(it);
            return;
        }
    }
}
