#include "routetablenetwork.h"

#include <fstream>
#include <sstream>
#include <utility>

namespace
{

// Route flags of the kernel (linux/route.h, linux/ipv6_route.h).
constexpr unsigned long kRouteUp = 0x0001;
constexpr unsigned long kRouteReject = 0x0200;

// A hexadecimal field of a route table; false unless the whole field is hex digits.
bool ParseHex(const std::string& field, unsigned long* value)
{
    if (field.empty() || field.size() > 16)
        return false;
    unsigned long result = 0;
    for (const char c : field) {
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        result = result * 16 + static_cast<unsigned long>(digit);
    }
    *value = result;
    return true;
}

bool IsAllZeroHex(const std::string& field, size_t length)
{
    return field.size() == length && field.find_first_not_of('0') == std::string::npos;
}

// A route that carries traffic: up, and not one of the "unreachable" routes the kernel
// keeps on the loopback device.
bool IsUsable(const std::string& flagsField)
{
    unsigned long flags = 0;
    return ParseHex(flagsField, &flags) && (flags & kRouteUp) != 0 && (flags & kRouteReject) == 0;
}

} // namespace

RouteTableNetwork::RouteTableNetwork(std::string procRoot) : procRoot_(std::move(procRoot))
{
}

uint32_t RouteTableNetwork::AliveFlags()
{
    std::ifstream v4(procRoot_ + "/net/route");
    if (v4 && HasIpv4DefaultRoute(v4))
        return kAliveLan;
    std::ifstream v6(procRoot_ + "/net/ipv6_route");
    if (v6 && HasIpv6DefaultRoute(v6))
        return kAliveLan;
    return 0;
}

// Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT, after one header
// line; addresses in hex.
bool RouteTableNetwork::HasIpv4DefaultRoute(std::istream& table)
{
    std::string line;
    if (!std::getline(table, line))
        return false;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refCount, use, metric, mask;
        if (!(fields >> iface >> destination >> gateway >> flags >> refCount >> use >> metric >>
              mask))
            continue;
        if (IsAllZeroHex(destination, 8) && IsAllZeroHex(mask, 8) && IsUsable(flags))
            return true;
    }
    return false;
}

// Destination, prefix length, source, source prefix length, next hop, metric, reference
// count, use count, flags, device; no header line.
bool RouteTableNetwork::HasIpv6DefaultRoute(std::istream& table)
{
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string destination, prefixLength, source, sourceLength, nextHop, metric, refCount, use,
            flags;
        if (!(fields >> destination >> prefixLength >> source >> sourceLength >> nextHop >>
              metric >> refCount >> use >> flags))
            continue;
        if (IsAllZeroHex(destination, 32) && IsAllZeroHex(prefixLength, 2) && IsUsable(flags))
            return true;
    }
    return false;
}
