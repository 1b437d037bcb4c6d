#pragma once

#include "networkbackend.h"
#include "routetablenetwork.h"

#include <string>

// The network as NetworkManager sees it, asked over the system D-Bus.
//
// - Alive: NetworkManager's State is one of the connected states (local, site or global).
//   The flags come from the primary connection and every fully activated connection: a
//   dial-up one (types ppp, pppoe, gsm, cdma, and bluetooth with the DUN profile) sets
//   kAliveWan, any other one kAliveLan (loopback and VPNs, which ride on another link, set
//   nothing). Connected with no connection to look at counts as a LAN.
// - Entries: the connection profiles (Settings.ListConnections, connection.id).
// - Dial: ActivateConnection of the first profile whose connection.id is the entry, then a
//   wait until the active connection is activated; hang up: DeactivateConnection, then a
//   wait until the active connection has gone.
// - Connections are named by the active connection's object path.
//
// When no NetworkManager answers on the bus, or there is no system bus at all, the answers
// come from the kernel's route tables (RouteTableNetwork): alive on a default route, no
// entries, no dialling. This is decided afresh on every call, so NetworkManager may come
// and go while the program runs.
//
// Every D-Bus call is a blocking call with a time-out (QDBus::Block), so the calling
// thread needs no event loop, and no QCoreApplication is needed either: the connection is
// opened with connectToBus on an address (never the systemBus() singleton, which wants an
// application object and would pin the bus address at first use).
//
// Threads: one object per thread. Objects on different threads use separate connections.
class NetworkManagerClient : public NetworkBackend
{
public:
    struct Options {
        // "" = the system bus: $DBUS_SYSTEM_BUS_ADDRESS, else the standard socket.
        std::string busAddress;
        // The /proc of the fallback.
        std::string procRoot = "/proc";
        // Bound of each single D-Bus call.
        int callTimeoutMs = 5000;
        // How long Dial waits for the connection to come up (modems dial slowly).
        int activateTimeoutMs = 90000;
        // How long HangUp waits for NetworkManager to release the connection.
        int hangUpTimeoutMs = 10000;
    };

    NetworkManagerClient();
    explicit NetworkManagerClient(Options options);
    ~NetworkManagerClient() override;
    NetworkManagerClient(const NetworkManagerClient&) = delete;
    NetworkManagerClient& operator=(const NetworkManagerClient&) = delete;

    uint32_t AliveFlags() override;
    std::vector<std::string> ListEntries() override;
    DialResult Dial(const std::string& entry) override;
    std::string FindConnectedDialup() override;
    bool HangUp(const std::string& connection) override;

    // True when NetworkManager answers on the bus now.
    bool ManagerPresent();

private:
    bool Connect();

    Options options_;
    std::string connectionName_;
    RouteTableNetwork fallback_;
};
