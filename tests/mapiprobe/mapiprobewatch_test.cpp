// Log-off while mail pours in, under the thread sanitizer: the watch thread reports, the
// test's thread logs off. No race, nothing reported after LogoffExchange returns, nothing
// reported twice.
#include "apppaths.h"
#include "maildirprovider.h"
#include "mapiprobe/recordingsink.h"
#include "mapiprobe/testmaildir.h"
#include "mapiprobesession.h"
#include "support/tempdir.h"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace
{

TEST(MapiprobeWatch, LogoffDuringBurst)
{
    TempDir home;
    ScopedEnv data("POSTWATCH_HOME", home.File("data"));
    ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("Burst")));
    TestMaildir box(home.File("Maildir"));
    MapiprobeSession session(
        std::make_unique<MaildirProvider>(MaildirProvider::ProfileList{{"P", {box.Root()}}}));

    for (int round = 0; round < 3; ++round) {
        RecordingSink sink;
        int32_t count = 0;
        ASSERT_EQ(session.Logon(sink.Sink(), "P", "Burst", 0, count, 256), PW_LOGON_DONE);
        std::atomic<bool> loggedOff{false};
        std::thread burst([&] {
            // Keep delivering for a while after the log-off, so late reports would show.
            int after = 0;
            for (int i = 0; i < 2000 && after < 50; ++i) {
                box.Deliver("", TestMaildir::Message("r" + std::to_string(round) + " m" +
                                                     std::to_string(i)));
                if (loggedOff)
                    ++after;
            }
        });
        ASSERT_TRUE(sink.WaitForSummaries(10));
        session.Logoff(nullptr);
        sink.Close();
        loggedOff = true;
        burst.join();
        EXPECT_EQ(sink.Late(), 0) << "reported after log-off";
        const auto subjects = sink.Subjects();
        EXPECT_EQ(std::set<std::string>(subjects.begin(), subjects.end()).size(), subjects.size())
            << "a message reported twice";
        EXPECT_FALSE(session.LoggedOn());
    }
}

// Log-off while the log-on still scans: the scan stops before its next message and undoes
// itself (or, had it just ended, the log-off tears the watch down); either way nothing comes
// after the log-off, and the next log-on reports what the scan left.
TEST(MapiprobeWatch, LogoffDuringScan)
{
    TempDir home;
    ScopedEnv data("POSTWATCH_HOME", home.File("data"));
    ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("Scan")));
    TestMaildir box(home.File("Maildir"));
    for (int i = 0; i < 300; ++i)
        box.Deliver("", TestMaildir::Message("m" + std::to_string(i)));
    MapiprobeSession session(
        std::make_unique<MaildirProvider>(MaildirProvider::ProfileList{{"P", {box.Root()}}}));

    RecordingSink sink;
    int32_t count = 0;
    int result = -1;
    std::thread check([&] { result = session.Logon(sink.Sink(), "P", "Scan", 0, count, 256); });
    ASSERT_TRUE(sink.WaitForRecords(1));
    session.Logoff(nullptr);
    sink.Close();
    check.join();
    EXPECT_TRUE(result == PW_LOGON_FAILED || result == PW_LOGON_DONE) << result;
    EXPECT_FALSE(session.LoggedOn());
    EXPECT_EQ(sink.Late(), 0);

    RecordingSink again;
    int32_t more = 0;
    ASSERT_EQ(session.Logon(again.Sink(), "P", "Scan", 0, more, 256), PW_LOGON_DONE);
    EXPECT_EQ(static_cast<size_t>(more) + sink.Records().size(), 300u);
    session.Logoff(nullptr);
}

// Mail delivered while the log-on scans, into folders counted before and after it came:
// every message is reported exactly once, by the scan or by the watch.
TEST(MapiprobeWatch, DeliveredDuringScan)
{
    TempDir home;
    ScopedEnv data("POSTWATCH_HOME", home.File("data"));
    ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("During")));
    TestMaildir box(home.File("Maildir"));
    box.MakeFolder(".Quiet"); // empty when counted
    for (int i = 0; i < 200; ++i)
        box.Deliver("", TestMaildir::Message("before " + std::to_string(i)));
    MapiprobeSession session(
        std::make_unique<MaildirProvider>(MaildirProvider::ProfileList{{"P", {box.Root()}}}));

    RecordingSink sink;
    int32_t count = 0;
    std::thread deliveries([&] {
        for (int i = 0; i < 200; ++i)
            box.Deliver(i % 2 ? "" : ".Quiet", TestMaildir::Message("during " + std::to_string(i)));
    });
    EXPECT_EQ(session.Logon(sink.Sink(), "P", "During", 0, count, 256), PW_LOGON_DONE);
    deliveries.join();
    EXPECT_TRUE(sink.WaitForRecords(400)) << sink.Records().size() << " of 400";
    // Whatever the watch still had queued has come by the time this one is reported.
    box.Deliver("", TestMaildir::Message("last"));
    EXPECT_TRUE(sink.WaitForRecords(401));
    session.Logoff(nullptr);
    const auto subjects = sink.Subjects();
    EXPECT_EQ(subjects.size(), 401u);
    EXPECT_EQ(std::set<std::string>(subjects.begin(), subjects.end()).size(), subjects.size())
        << "a message reported twice";
}

} // namespace
