// One instance per user and data folder: a later start hands over to the first.
#include "singleinstance.h"
#include "support/tempdir.h"

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

} // namespace
