#pragma once

#include <string>

// How the worker starts and, on exit, stops the checks of accounts.
//
// StartCheck returns after the check's thread was started, or after Check finished was
// reported for an account whose check cannot start. CancelChecks asks every running check
// to end now (the exit's drain limit ran out); each still reports Check finished.
//
// Threads: both are called on the worker thread without the account table's lock; they
// may take it themselves (Check finished does).
class CheckLauncher
{
public:
    virtual ~CheckLauncher() = default;
    virtual void StartCheck(const std::string& account) = 0;
    virtual void CancelChecks() = 0;
};
