// --watch as the real program against a private Dovecot: the first line at start, a new line
// when a check stores mail and when a message is marked read in the store, a second --watch
// attaching to the first instead of checking and taking over when the first ends, and a
// clean exit on SIGTERM and SIGINT.
#include "backgroundprocess.h"
#include "dovecotenvironment.h"
#include "mailboxfile.h"
#include "support/component.h"
#include "support/runprocess.h"
#include "support/tempdir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Polls `ready` until it holds or `seconds` pass (a limit for a hung program, not a speed).
bool WaitFor(const std::function<bool()>& ready, int seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ready();
}

// The json lines so far, each parsed as a bar would (one object per line).
std::vector<QJsonObject> JsonLines(const std::string& out)
{
    std::vector<QJsonObject> objects;
    for (const std::string& line : Lines(out)) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        objects.push_back(doc.object());
    }
    return objects;
}

bool LastUnreadIs(const std::string& out, int unread)
{
    const std::vector<QJsonObject> lines = JsonLines(out);
    return !lines.empty() && lines.back()["unread"].toInt(-1) == unread;
}

// The i3bar stream: the header, "[", then block lists, each after the first led by a comma.
void ExpectI3bar(const std::string& out, int lastUnread)
{
    const std::vector<std::string> lines = Lines(out);
    ASSERT_GE(lines.size(), 3u) << out;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(lines[0]))["version"].toInt(), 1);
    EXPECT_EQ(lines[1], "[");
    for (size_t i = 2; i < lines.size(); ++i) {
        std::string blocks = lines[i];
        if (i > 2) {
            ASSERT_EQ(blocks.front(), ',') << blocks;
            blocks.erase(0, 1);
        }
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(blocks));
        ASSERT_TRUE(doc.isArray()) << blocks;
        if (i + 1 == lines.size())
            EXPECT_EQ(doc.array().at(0)["full_text"].toString().toStdString(),
                      std::to_string(lastUnread));
    }
}

class WatchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dovecot_ = DovecotEnvironment::Get();
        if (!dovecot_)
            GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
        ASSERT_TRUE(dovecot_->ClearMailbox("alice"));
    }
    std::vector<std::string> Env() const
    {
        return {"POSTWATCH_HOME=" + dir_.File("data"), "XDG_CONFIG_HOME=" + dir_.File("config"),
                "XDG_DATA_HOME=" + dir_.File("share")};
    }
    ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "")
    {
        return RunProcess(POSTWATCH_BINARY, args, input, Env());
    }
    std::unique_ptr<BackgroundProcess> Watch(const std::string& format, const std::string& tag)
    {
        return std::make_unique<BackgroundProcess>(
            POSTWATCH_BINARY, std::vector<std::string>{"--watch", "--format", format}, Env(),
            dir_.File(tag + ".out"), dir_.File(tag + ".err"));
    }

    DovecotFixture* dovecot_ = nullptr;
    TempDir dir_;
};

TEST_F(WatchTest, CountsFollowNewMailAndMarkReadAndASecondWatchAttaches)
{
    auto added =
        Run({"--add-account", "Work", "--kind", "IMAP4", "--server", "127.0.0.1", "--user", "alice",
             "--port", std::to_string(dovecot_->ImapPort()), "--security", "none"},
            "alice-pass\n");
    ASSERT_EQ(added.exitCode, 0) << added.err;

    auto first = Watch("json", "first");
    ASSERT_TRUE(WaitFor([&] { return LastUnreadIs(first->Out(), 0); }, 30)) << first->Err();
    EXPECT_EQ(JsonLines(first->Out()).front()["accounts"].toObject()["Work"].toInt(-1), 0);

    // Mail arrives and a check stores it (another process: the account lock keeps order).
    ASSERT_FALSE(dovecot_->Deliver("alice", "Subject: one\r\n\r\nx\r\n").empty());
    ASSERT_FALSE(dovecot_->Deliver("alice", "Subject: two\r\n\r\ny\r\n").empty());
    auto checked = Run({"--check-now", "Work"});
    ASSERT_EQ(checked.exitCode, 0) << checked.out << checked.err;
    ASSERT_TRUE(WaitFor([&] { return LastUnreadIs(first->Out(), 2); }, 30)) << first->Out();

    // A second watch checks nothing: it follows the first.
    auto second = Watch("i3bar", "second");
    ASSERT_TRUE(WaitFor([&] { return Lines(second->Out()).size() >= 3; }, 30)) << second->Err();
    ExpectI3bar(second->Out(), 2);

    // One message marked read in the store, as the list does it.
    {
        CMailBoxFile box;
        ASSERT_EQ(box.Open(dir_.File("data/Mail/Work/Message.box")), 1);
        StoredMessage m;
        box.Rewind();
        ASSERT_EQ(box.Next(), 1);
        ASSERT_EQ(box.ReadCurrent(m, false, false), 1);
        ASSERT_EQ(box.SetRead(m.messageId, "Yes"), 1);
    }
    ASSERT_TRUE(WaitFor([&] { return LastUnreadIs(first->Out(), 1); }, 30)) << first->Out();
    ASSERT_TRUE(WaitFor([&] { return Lines(second->Out()).size() >= 4; }, 30)) << second->Out();
    ExpectI3bar(second->Out(), 1);

    // The engine ends cleanly on SIGTERM; the follower takes over and counts on its own.
    ASSERT_TRUE(first->SignalAndWait(SIGTERM, 60));
    EXPECT_EQ(first->ExitCode(), 0) << first->Err();
    EXPECT_EQ(first->Err(), "");
    {
        CMailBoxFile box;
        ASSERT_EQ(box.Open(dir_.File("data/Mail/Work/Message.box")), 1);
        box.Rewind();
        while (box.Next() == 1) {
            StoredMessage m;
            ASSERT_EQ(box.ReadCurrent(m, false, false), 1);
            ASSERT_EQ(box.SetRead(m.messageId, "Yes"), 1);
        }
    }
    // One line more, with nothing unread: taking over repeats no line.
    ASSERT_TRUE(WaitFor([&] { return Lines(second->Out()).size() >= 5; }, 30)) << second->Err();
    ExpectI3bar(second->Out(), 0);
    EXPECT_EQ(Lines(second->Out()).size(), 5u) << second->Out();
    ASSERT_TRUE(second->SignalAndWait(SIGINT, 60));
    EXPECT_EQ(second->ExitCode(), 0) << second->Err();
}

// "postwatch --watch | head -1": once the reader has its line and goes, the watch ends
// (exit code 0) although no further line is due, whether it runs the engine or follows
// another watch. The watch writes into a FIFO that the test reads and closes.
TEST_F(WatchTest, AReaderThatGoesEndsTheWatch)
{
    for (const bool following : {false, true}) {
        SCOPED_TRACE(following ? "following" : "alone");
        std::unique_ptr<BackgroundProcess> engine;
        if (following) {
            engine = Watch("text", "engine");
            ASSERT_TRUE(WaitFor([&] { return !engine->Out().empty(); }, 30)) << engine->Err();
        }
        const std::string fifo = dir_.File(following ? "following.fifo" : "alone.fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        // Opened before the watch opens it for writing, which would wait for a reader.
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        BackgroundProcess watch(
            "/bin/sh", {"-c", "exec \"$0\" --watch --format text > \"$1\"", POSTWATCH_BINARY, fifo},
            Env(), dir_.File("watch.out"), dir_.File("watch.err"));
        std::string got;
        ASSERT_TRUE(WaitFor(
            [&] {
                char buffer[256];
                const ssize_t n = ::read(reader, buffer, sizeof buffer);
                if (n > 0)
                    got.append(buffer, static_cast<size_t>(n));
                return got.find('\n') != std::string::npos;
            },
            30))
            << watch.Err();
        ::close(reader);
        EXPECT_TRUE(WaitFor([&] { return !watch.Running(); }, 60)) << "the watch stayed";
        EXPECT_EQ(watch.ExitCode(), 0) << watch.Err();
        if (engine) {
            EXPECT_TRUE(engine->Running()) << "the followed watch is left alone";
            ASSERT_TRUE(engine->SignalAndWait(SIGTERM, 60));
        }
    }
}

TEST_F(WatchTest, AnUnknownFormatIsRefused)
{
    const ProcessResult r = Run({"--watch", "--format", "yaml"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--format must be"), std::string::npos) << r.err;
}

} // namespace
