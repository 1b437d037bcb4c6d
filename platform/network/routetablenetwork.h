#pragma once

#include "networkbackend.h"

#include <istream>
#include <string>

// The network test when no network manager can be asked: the network is taken as up while
// the kernel has a default route, IPv4 (/proc/net/route) or IPv6 (/proc/net/ipv6_route).
// There is nothing to dial and no dial-up connection to find.
//
// `procRoot` is the folder that stands for /proc (tests use a fake one). Unreadable or
// malformed tables count as "no default route". Any thread; no state beyond the root.
class RouteTableNetwork : public NetworkBackend
{
public:
    explicit RouteTableNetwork(std::string procRoot = "/proc");

    // kAliveLan while a default route is there, else 0. A default route cannot tell a LAN
    // from a dial-up line reliably, so WAN is never reported.
    uint32_t AliveFlags() override;
    std::vector<std::string> ListEntries() override { return {}; }
    DialResult Dial(const std::string&) override { return {}; }
    std::string FindConnectedDialup() override { return {}; }
    bool HangUp(const std::string&) override { return true; }

    // The table parsers, reading the files' text line by line (a router's table can be
    // large, so nothing is held whole). Stop at the first usable default route.
    static bool HasIpv4DefaultRoute(std::istream& table);
    static bool HasIpv6DefaultRoute(std::istream& table);

private:
    std::string procRoot_;
};
