#pragma once

#include <functional>
#include <string>
#include <vector>

// What the engine asks of the push connections (IMAP IDLE): follow the account table, and
// end every connection at exit.
//
// Follow is called by the worker after the table was loaded and after every scan, without
// the table lock, with the names of the table's rows; `reread` is true on a minute tick,
// when an implementation should look at the accounts' files again (a push switch turned on
// or off). It must not block. StopAll ends every connection at once (exit).
//
// Threads: Follow on the worker thread; StopAll on the thread that ends the engine.
class PushService
{
public:
    virtual ~PushService() = default;
    // Called once by the engine before its worker starts: how to end the worker's sleep so
    // that a requested check starts at once.
    virtual void Bind(std::function<void()> wakeWorker) = 0;
    virtual void Follow(const std::vector<std::string>& accounts, bool reread) = 0;
    virtual void StopAll() = 0;
};
