#pragma once

#include <cstdint>

// Network availability as the worker needs it before starting a check.
//
// EnsureNetwork: 1 when the check may go ahead, 0 when not. `connection` receives the
// dial-up connection opened or adopted for this check, to be hung up after the checks
// (0 = nothing to hang up). HangUp ends such a connection.
//
// Threads: called on the worker thread with the account table's lock released; may block
// for a long time (dialling). An implementation may deliver a dialling error to the user
// through CEngineSink::SendText.
class NetworkAccess
{
public:
    virtual ~NetworkAccess() = default;
    virtual int EnsureNetwork(int64_t& connection) = 0;
    virtual void HangUp(int64_t connection) = 0;
};
