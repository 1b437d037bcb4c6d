#pragma once

#include <string>

// What a front may want to follow of the worker's scan (the headless front waits for the
// checks it asked for). Called on the worker thread with the account table's lock held:
// an observer must not call into the account table or block.
class WorkerObserver
{
public:
    virtual ~WorkerObserver() = default;
    // The account table was loaded (the start-up signal).
    virtual void Loaded() {}
    // A requested check was started.
    virtual void CheckStarted(const std::string& /*account*/) {}
    // Why a request was dropped.
    enum class DropReason {
        NoNetwork,        // the network could not be brought up
        ExchangeLoggedOn, // the one Exchange session is logged on already
    };
    // A request was dropped without a check.
    virtual void RequestDropped(const std::string& /*account*/, DropReason /*why*/) {}
    // A requested account is not usable and will not be started.
    virtual void NotUsable(const std::string& /*account*/) {}
    // A finished check was finalised; `nowNamed` differs from `account` when a rename
    // that waited for the check was applied.
    virtual void Finalised(const std::string& /*account*/, const std::string& /*nowNamed*/) {}
};
