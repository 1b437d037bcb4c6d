#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the dial-up logic (DialupLink) needs to know about and do with the machine's network.
// NetworkManagerClient is the real one; tests and the scheduler's tests use fakes.
//
// Connections are named by an opaque text that stays the same while the connection is up
// (the active connection's object path with NetworkManager), "" for none.
//
// Every operation blocks its caller for a bounded time and needs no event loop on the
// calling thread. An object is used by one thread at a time.
class NetworkBackend
{
public:
    // The flags of the network-awareness test: a LAN (any connection that is not dial-up)
    // and a WAN (a dial-up connection) are up. 0 = no usable network.
    static constexpr uint32_t kAliveLan = 0x1;
    static constexpr uint32_t kAliveWan = 0x2;

    struct DialResult {
        enum class Status {
            Connected, // `connection` is up
            NoEntry,   // no entry of that name, or nothing to dial with: no text for the user
            Failed,    // dialling was tried and failed; `errorText` says why, for the user
        };
        Status status = Status::NoEntry;
        std::string connection;
        std::string errorText;
    };

    virtual ~NetworkBackend() = default;

    // 0 when the network is down, else kAliveLan and/or kAliveWan.
    virtual uint32_t AliveFlags() = 0;
    // The names of the entries that can be dialled, in the system's order. Empty on failure.
    virtual std::vector<std::string> ListEntries() = 0;
    // Brings up the entry named `entry` and waits, bounded, until it is up. A connection that
    // was started but did not come up is taken down again before Failed is returned.
    virtual DialResult Dial(const std::string& entry) = 0;
    // The first dial-up connection that is fully up, or "" when there is none.
    virtual std::string FindConnectedDialup() = 0;
    // Takes `connection` down and waits, bounded, until the system has released it.
    // True when it is gone afterwards (also when it was gone already).
    virtual bool HangUp(const std::string& connection) = 0;
};
