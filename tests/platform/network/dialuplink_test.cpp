#include "dialuplink.h"
#include "fakenetworkbackend.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

using Status = NetworkBackend::DialResult::Status;
constexpr uint32_t kLan = NetworkBackend::kAliveLan;
constexpr uint32_t kWan = NetworkBackend::kAliveWan;
constexpr Status kUp = Status::Connected;
constexpr Status kBusy = Status::Failed;
constexpr Status kNoEntry = Status::NoEntry;

// The test before checks, then the worker's hang-up of what it handed over: which calls
// reach the system, in order. The dial-up entry is always "ISP"; an existing line "ppp".
TEST(DialupLinkTest, EnsureNetworkThenHangUp)
{
    struct Row {
        const char* label;
        const char* use;    // UseConnection
        const char* hangUp; // AutoHangupAfterCheck
        const char* exist;  // UseExistDialup
        uint32_t flags;
        Status dial;
        int expected;
        const char* calls;
    };
    const Row rows[] = {
        {"always online: no test, no dial", "1", "1", "1", 0, kUp, 1, ""},
        {"always online ignores a dial-up line", "1", "1", "1", kWan, kUp, 1, ""},
        {"system test, LAN up", "0", "1", "1", kLan, kUp, 1, "alive"},
        {"system test, down: no dial", "0", "1", "1", 0, kUp, 0, "alive"},
        {"unknown mode is the system test", "2", "1", "1", 0, kUp, 0, "alive"},
        {"empty mode is the system test", "", "1", "1", 0, kUp, 0, "alive"},
        {"LAN and dial-up: line not adopted", "3", "1", "1", kLan | kWan, kUp, 1, "alive"},
        {"LAN only in dial-up mode", "3", "1", "1", kLan, kUp, 1, "alive"},
        {"dial-up only: adopted, hung up", "3", "1", "1", kWan, kUp, 1, "alive find hangup:ppp"},
        {"dial-up only, adopting off", "3", "1", "0", kWan, kUp, 1, "alive"},
        {"dial-up only, hang-up off", "3", "0", "1", kWan, kUp, 1, "alive"},
        {"dial-up only, system test mode", "0", "1", "1", kWan, kUp, 1, "alive"},
        {"down: dialled, hung up", "3", "1", "0", 0, kUp, 1, "alive dial:ISP hangup:line:ISP"},
        {"down: dialled, stays up", "3", "0", "1", 0, kUp, 1, "alive dial:ISP"},
        {"down: dialled, hang-up value missing", "3", "", "", 0, kUp, 1, "alive dial:ISP"},
        {"down: dial fails", "3", "1", "1", 0, kBusy, 0, "alive dial:ISP"},
        {"down: entry unknown", "3", "1", "1", 0, kNoEntry, 0, "alive dial:ISP"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        FakeNetworkBackend backend;
        backend.flags = row.flags;
        backend.connectedDialup = "ppp";
        backend.dialStatus = row.dial;
        std::vector<std::string> texts;
        DialupLink link(backend, [&texts](const std::string& text) { texts.push_back(text); });

        int64_t handle = -1;
        EXPECT_EQ(link.EnsureNetwork({row.use, "ISP", row.hangUp, row.exist}, &handle),
                  row.expected);
        link.HangUp(handle);
        EXPECT_EQ(backend.log, row.calls);
        // Only a failed dial talks to the user; an unknown entry stays quiet.
        EXPECT_EQ(texts, row.dial == kBusy ? std::vector<std::string>{"the line is busy"}
                                           : std::vector<std::string>{});
    }
}

// Two checks that adopt the one existing line hold the same handle, so the worker waits for
// both; a handle is forgotten once hung up; 0 and unknown handles do nothing.
TEST(DialupLinkTest, HandlesFollowConnections)
{
    FakeNetworkBackend backend;
    backend.flags = kWan;
    backend.connectedDialup = "ppp";
    DialupLink link(backend, {});
    const DialupLink::Settings adopt{"3", "ISP", "1", "1"};

    int64_t first = 0, second = 0, third = 0;
    ASSERT_EQ(link.EnsureNetwork(adopt, &first), 1);
    ASSERT_EQ(link.EnsureNetwork(adopt, &second), 1);
    EXPECT_NE(first, 0);
    EXPECT_EQ(first, second);
    EXPECT_EQ(link.ConnectionOf(first), "ppp");
    backend.log.clear();
    link.HangUp(0);
    link.HangUp(first + 100);
    link.HangUp(first);
    link.HangUp(second);
    EXPECT_EQ(backend.log, "hangup:ppp");

    ASSERT_EQ(link.EnsureNetwork(adopt, &third), 1);
    EXPECT_NE(third, first) << "a number is never given out twice";
}

TEST(DialupLinkTest, MayHangUp)
{
    struct Row {
        const char* label;
        int64_t handle;
        std::vector<int64_t> others;
        bool anyRequested;
        bool anyBusy;
        bool expected;
    };
    const Row rows[] = {
        {"own connection, nothing else going on", 7, {0, 3}, false, false, true},
        {"no connection", 0, {}, false, false, false},
        {"another row holds it", 7, {0, 7}, false, false, false},
        {"a check is requested", 7, {}, true, false, false},
        {"a check is running", 7, {}, false, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(DialupLink::MayHangUp(row.handle, row.others, row.anyRequested, row.anyBusy),
                  row.expected);
    }
}

} // namespace
