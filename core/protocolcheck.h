#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

class CCheckCancel;
class CEngineSink;

// What one POP3 or IMAP4 check needs: the account's connection values, the identifiers
// already stored (a hash set: a server list of many thousand messages is matched against
// as many known identifiers in linear time) and the idle time-out.
struct ProtocolCheckParams {
    std::string server;
    std::string userName;
    std::string password; // plain text
    std::string account;  // the account name, copied into every record
    std::string security; // "None", "STARTTLS", "TLS" or empty (the protocol's default)
    int port = 0;
    int timeOutSeconds = 0;
    int preview = 0; // the account's preview value, as the protocol reads it
    std::unordered_set<std::string> knownUids;
};

// Runs the protocol check of one account: logs in, finds the messages whose identifiers
// are not known, delivers each kept one synchronously with sink.SendNewMessage (kind 1 for
// POP3, 2 for IMAP4) and counts it in `newCount`.
//
// Result: 0 no memory, 1 failure after login, 2 login refused, 3 cannot connect, 4 done.
// `cancel` ends the check early (the result is then 1 or 3, whatever the stage).
//
// Threads: Run is called on the check's own thread; one object may serve several checks
// at once (it must keep no per-check state in itself).
class ProtocolCheck
{
public:
    virtual ~ProtocolCheck() = default;
    virtual int Run(const ProtocolCheckParams& params, CEngineSink& sink, int32_t& newCount,
                    CCheckCancel& cancel) = 0;
};
