#include "routetablenetwork.h"
#include "support/tempdir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>

namespace
{

const std::string kV4Header =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU"
    "\tWindow\tIRTT\n";
const std::string kV4Default = "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
const std::string kV4Subnet = "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
const std::string kV6Default =
    "00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "00 fd000000000000000000000000000001 00000400 00000002 00000000 "
    "00000003     eth0\n";
const std::string kV6LoopbackReject =
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
    "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";
const std::string kV6LinkLocal =
    "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 "
    "00000000000000000000000000000000 00000100 00000002 00000000 00000001     eth0\n";

TEST(RouteTableNetworkTest, Ipv4DefaultRoute)
{
    struct Row {
        const char* label;
        std::string table;
        bool expected;
    };
    const Row rows[] = {
        {"default route", kV4Header + kV4Subnet + kV4Default, true},
        {"only a subnet route", kV4Header + kV4Subnet, false},
        {"header only", kV4Header, false},
        {"empty file", "", false},
        {"default route without its header line is the header", kV4Default, false},
        {"default route that is down",
         kV4Header + "eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n", false},
        {"unreachable default route",
         kV4Header + "lo\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n", false},
        {"half of the address space is no default",
         kV4Header + "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000080\t0\t0\t0\n", false},
        {"flags that are not hex", kV4Header + "eth0\t00000000\t0\tzz\t0\t0\t0\t00000000\n", false},
        {"line cut short", kV4Header + "eth0\t00000000\t010200C0\t0003\n", false},
        {"garbage before a good line", kV4Header + "\x01\x02 ???\n\n" + kV4Default, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::istringstream in(row.table);
        EXPECT_EQ(RouteTableNetwork::HasIpv4DefaultRoute(in), row.expected);
    }
}

TEST(RouteTableNetworkTest, Ipv6DefaultRoute)
{
    struct Row {
        const char* label;
        std::string table;
        bool expected;
    };
    const Row rows[] = {
        {"default route", kV6LinkLocal + kV6Default, true},
        {"loopback's unreachable default route", kV6LinkLocal + kV6LoopbackReject, false},
        {"link-local only", kV6LinkLocal, false},
        {"empty file", "", false},
        {"zero address with a prefix is no default",
         "00000000000000000000000000000000 01 00000000000000000000000000000000 00 "
         "00000000000000000000000000000000 00000400 00000002 00000000 00000003 eth0\n",
         false},
        {"short destination field",
         "0000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 "
         "00000400 00000002 00000000 00000003 eth0\n",
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::istringstream in(row.table);
        EXPECT_EQ(RouteTableNetwork::HasIpv6DefaultRoute(in), row.expected);
    }
}

// The whole fallback on a fake /proc; it never offers entries or dials.
TEST(RouteTableNetworkTest, AliveFromFakeProc)
{
    struct Row {
        const char* label;
        std::optional<std::string> v4;
        std::optional<std::string> v6;
        uint32_t expected;
    };
    const Row rows[] = {
        {"no route tables at all", std::nullopt, std::nullopt, 0},
        {"IPv4 default route", kV4Header + kV4Default, std::nullopt, NetworkBackend::kAliveLan},
        {"IPv6 default route only", kV4Header + kV4Subnet, kV6Default, NetworkBackend::kAliveLan},
        {"only the loopback's reject route", kV4Header, kV6LoopbackReject, 0},
        {"subnets only", kV4Header + kV4Subnet, kV6LinkLocal, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempDir proc;
        std::filesystem::create_directories(proc.File("net"));
        if (row.v4)
            WriteWholeFile(proc.File("net/route"), *row.v4);
        if (row.v6)
            WriteWholeFile(proc.File("net/ipv6_route"), *row.v6);
        RouteTableNetwork network(proc.Path());
        EXPECT_EQ(network.AliveFlags(), row.expected);
        EXPECT_TRUE(network.ListEntries().empty());
        EXPECT_EQ(network.Dial("Anything").status, NetworkBackend::DialResult::Status::NoEntry);
        EXPECT_EQ(network.FindConnectedDialup(), "");
    }
}

} // namespace
