// Log-off while mail pours in, under the thread sanitizer: the watch thread reports, the
// test's thread logs off. No race, nothing reported after LogoffExchange returns, nothing
// reported twice.
#include "apppaths.h"
#include "maildirprovider.h"
#include "mapiprobe/maildirwatch.h"
#include "mapiprobe/recordingsink.h"
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
    MaildirFixture box(home.File("Maildir"));
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
                box.Deliver("", MaildirFixture::Message("r" + std::to_string(round) + " m" +
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

} // namespace
