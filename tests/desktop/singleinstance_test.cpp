// One instance per user and data folder: a later start hands over to the first.
#include "singleinstance.h"
#include "support/runprocess.h"
#include "support/tempdir.h"
#include "unreadcountfeed.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace
{

QString UniqueName()
{
    return QStringLiteral("postwatch-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Acquire() of a second instance on its own thread (it blocks while the first answers on
// this thread's event loop).
CSingleInstance::Result AcquireElsewhere(const QString& name)
{
    std::atomic<bool> done{false};
    CSingleInstance::Result result = CSingleInstance::Result::kFailed;
    std::thread t([&] {
        CSingleInstance second(name);
        result = second.Acquire();
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 15000));
    t.join();
    return result;
}

TEST(SingleInstance, LaterStartsHandOverToTheFirst)
{
    const QString name = UniqueName();
    CSingleInstance first(name);
    QSignalSpy shown(&first, &CSingleInstance::showRequested);
    ASSERT_EQ(first.Acquire(), CSingleInstance::Result::kFirst);
    struct Case {
        const char* name;
        int showsAfter;
    };
    for (const Case& c : std::vector<Case>{{"second start", 1}, {"third start", 2}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AcquireElsewhere(name), CSingleInstance::Result::kHandedOver);
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown.count() == c.showsAfter; }, 5000));
    }
}

TEST(SingleInstance, TheNameIsFreeAgainWhenTheFirstEnds)
{
    const QString name = UniqueName();
    {
        CSingleInstance first(name);
        ASSERT_EQ(first.Acquire(), CSingleInstance::Result::kFirst);
    }
    CSingleInstance again(name);
    EXPECT_EQ(again.Acquire(), CSingleInstance::Result::kFirst);
}

TEST(SingleInstance, AListenerThatIsNotOursIsNotAHandOver)
{
    // Something else holds the name and says nothing sensible: we must not end quietly.
    const QString name = UniqueName();
    QLocalServer stranger;
    stranger.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    ASSERT_TRUE(stranger.listen(name));
    QObject::connect(&stranger, &QLocalServer::newConnection, [&] {
        while (QLocalSocket* s = stranger.nextPendingConnection()) {
            s->write("who?\n");
            s->flush();
        }
    });
    EXPECT_EQ(AcquireElsewhere(name), CSingleInstance::Result::kFailed);
}

TEST(SingleInstance, AnEarlierVersionStillTakesTheHandOver)
{
    // It knows the bare "show" only and hangs up on anything else without a word.
    const QString name = UniqueName();
    QLocalServer earlier;
    earlier.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    ASSERT_TRUE(earlier.listen(name));
    int shows = 0;
    QObject::connect(&earlier, &QLocalServer::newConnection, [&] {
        while (QLocalSocket* s = earlier.nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::readyRead, s, [s, &shows] {
                if (!s->canReadLine())
                    return;
                if (s->readLine() == "show\n") {
                    ++shows;
                    s->write("ok\n");
                    s->flush();
                }
                s->disconnectFromServer();
            });
        }
    });
    EXPECT_EQ(AcquireElsewhere(name), CSingleInstance::Result::kHandedOver);
    EXPECT_EQ(shows, 1);
}

TEST(SingleInstance, TheDefaultNameFollowsTheUserAndTheDataFolder)
{
    TempDir a;
    TempDir b;
    QString nameA;
    QString nameB;
    {
        ScopedEnv home("POSTWATCH_HOME", a.File("data"));
        nameA = CSingleInstance::DefaultName();
        EXPECT_EQ(CSingleInstance::DefaultName(), nameA);
    }
    {
        ScopedEnv home("POSTWATCH_HOME", b.File("data"));
        nameB = CSingleInstance::DefaultName();
    }
    EXPECT_NE(nameA, nameB);
    EXPECT_TRUE(nameA.startsWith(QStringLiteral("postwatch-%1-").arg(getuid())));
}

// What one line sent to the running instance does: only its own request, and an answer the
// sender can tell apart from every other.
TEST(SingleInstance, EachRequestDoesItsOwnThingAndNoOther)
{
    struct Case {
        const char* name;
        QByteArray line;
        int shows;
        int reloads;
        QByteArray answer;
    };
    const std::vector<Case> cases = {
        {"show", "postwatch/1 show\n", 1, 0, "postwatch/1 ok\n"},
        {"accounts changed", "postwatch/1 accounts-changed\n", 0, 1, "postwatch/1 ok\n"},
        {"show of an earlier version", "show\n", 1, 0, "ok\n"},
        {"unknown verb of this version", "postwatch/1 frobnicate\n", 0, 0, "postwatch/1 unknown\n"},
        {"another version", "postwatch/2 accounts-changed\n", 0, 0, ""},
        {"untagged accounts changed", "accounts-changed\n", 0, 0, ""},
        {"show with something after it", "postwatch/1 show now\n", 0, 0, "postwatch/1 unknown\n"},
        {"two requests in one line", "show\npostwatch/1 accounts-changed\n", 0, 0, ""},
        {"watch where nobody takes watchers", "postwatch/1 watch\n", 0, 0, "postwatch/1 unknown\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = UniqueName();
        CSingleInstance first(name);
        QSignalSpy shown(&first, &CSingleInstance::showRequested);
        QSignalSpy changed(&first, &CSingleInstance::accountsChanged);
        ASSERT_EQ(first.Acquire(), CSingleInstance::Result::kFirst);

        QLocalSocket socket;
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        socket.connectToServer(name);
        ASSERT_TRUE(socket.waitForConnected(5000));
        socket.write(c.line);
        QByteArray answer;
        // The instance answers (or not) and hangs up.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                answer += socket.readAll();
                return socket.state() == QLocalSocket::UnconnectedState;
            },
            5000));
        answer += socket.readAll();
        EXPECT_EQ(answer, c.answer);
        QTest::qWait(50); // a signal that should not come has had its chance
        EXPECT_EQ(shown.count(), c.shows);
        EXPECT_EQ(changed.count(), c.reloads);
    }
}

// A watcher stays connected and gets the counts at once, then every change.
TEST(SingleInstance, AWatcherGetsTheCountsAndStays)
{
    TempDir dir;
    ScopedEnv home("POSTWATCH_HOME", dir.File("data"));
    const QString name = UniqueName();
    CSingleInstance first(name);
    UnreadCountFeed feed;
    first.AcceptWatchers(true);
    QObject::connect(&first, &CSingleInstance::watcherAttached, &feed, &UnreadCountFeed::Attach);
    ASSERT_EQ(first.Acquire(), CSingleInstance::Result::kFirst);

    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write("postwatch/1 watch\n");
    QByteArray answer;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return answer.count('\n') >= 2;
        },
        5000));
    EXPECT_EQ(answer, "postwatch/1 ok\npostwatch/1 counts {\"accounts\":[],\"unread\":0}\n");
    EXPECT_EQ(socket.state(), QLocalSocket::ConnectedState);
}

TEST(SingleInstance, TheCommandLineNoticeReachesOnlyTheRunningInstance)
{
    const QString name = UniqueName();
    // Nobody listens: no notice, at once.
    EXPECT_FALSE(CSingleInstance::Tell(name, CSingleInstance::Request::kAccountsChanged, 5000));

    CSingleInstance first(name);
    QSignalSpy shown(&first, &CSingleInstance::showRequested);
    QSignalSpy changed(&first, &CSingleInstance::accountsChanged);
    ASSERT_EQ(first.Acquire(), CSingleInstance::Result::kFirst);
    std::atomic<bool> done{false};
    bool told = false;
    std::thread t([&] {
        told = CSingleInstance::Tell(name, CSingleInstance::Request::kAccountsChanged, 5000);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 15000));
    t.join();
    EXPECT_TRUE(told);
    EXPECT_TRUE(QTest::qWaitFor([&] { return changed.count() == 1; }, 5000));
    EXPECT_EQ(shown.count(), 0);
}

// The real command line tells the running program after a command that changed accounts,
// and only then.
TEST(SingleInstance, TheCommandLineTellsTheRunningProgramAfterAnAccountChange)
{
    TempDir dir;
    ScopedEnv home("POSTWATCH_HOME", dir.File("data"));
    CSingleInstance running; // the desktop program of this data folder
    QSignalSpy shown(&running, &CSingleInstance::showRequested);
    QSignalSpy changed(&running, &CSingleInstance::accountsChanged);
    ASSERT_EQ(running.Acquire(), CSingleInstance::Result::kFirst);

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        int notices; // in all so far
    };
    const std::vector<std::string> add = {"--add-account", "Work", "--kind", "POP3",
                                          "--server",      "s",    "--user", "u"};
    const std::vector<Case> cases = {
        {"an added account", add, 0, 1},
        {"a refused add changed nothing", add, 1, 1}, // the name is in use now
        {"a listing changed nothing", {"--list-accounts"}, 0, 1},
        {"bad usage changed nothing", {"--add-account"}, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> done{false};
        ProcessResult r;
        std::thread t([&] {
            r = RunProcess(POSTWATCH_BINARY, c.args, "secret\n",
                           {"POSTWATCH_HOME=" + dir.File("data"),
                            "XDG_CONFIG_HOME=" + dir.File("config"),
                            "DISPLAY=", "WAYLAND_DISPLAY="});
            done = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 30000));
        t.join();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        QTest::qWait(50); // a notice that should not come has had its chance
        EXPECT_EQ(changed.count(), c.notices);
    }
    EXPECT_EQ(shown.count(), 0);
}

} // namespace
