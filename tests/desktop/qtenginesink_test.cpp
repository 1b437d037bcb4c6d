// The desktop sink: calls from engine threads run on the user-interface thread and wait
// for it; after Shutdown() nobody waits on a window that is gone.
#include "qtenginesink.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace
{

// Records on which thread it ran, and what.
class RecordingHandler final : public CEngineSink
{
public:
    int SendNewMessage(uint32_t kind, const MessageRecord&) override { return Note(kind); }
    int SendExchangeMessage(const ExchangeMessageRecord&) override { return Note(3); }
    int SendWebMailMessage(const WebMailMessageRecord&) override { return Note(4); }
    int SendSummary(const CheckResultRecord&) override { return Note(5); }
    int SendText(const CheckResultRecord&) override { return Note(6); }
    int SendCheckAnimation(bool on) override { return Note(on ? 7 : 8); }
    void PostClose() override { Note(9); }

    std::vector<int> kinds;
    std::atomic<int> offUiThread{0};

private:
    int Note(int kind)
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            ++offUiThread;
        kinds.push_back(kind);
        return 1;
    }
};

// Runs `call` on a thread of its own while the test's thread handles events; the result.
int FromThread(const std::function<int()>& call, bool handleEvents = true)
{
    std::atomic<bool> done{false};
    int result = -1;
    std::thread t([&] {
        result = call();
        done = true;
    });
    if (handleEvents)
        EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    t.join();
    return result;
}

TEST(QtEngineSink, CallsRunOnTheUserInterfaceThreadInOrder)
{
    RecordingHandler handler;
    auto sink = std::make_shared<CQtEngineSink>(handler);
    MessageRecord message{};
    CheckResultRecord summary{};
    struct Case {
        const char* name;
        std::function<int()> call;
        int kind;
    };
    const std::vector<Case> cases = {
        {"pop3 message", [&] { return sink->SendNewMessage(1, message); }, 1},
        {"imap4 message", [&] { return sink->SendNewMessage(2, message); }, 2},
        {"summary", [&] { return sink->SendSummary(summary); }, 5},
        {"text", [&] { return sink->SendText(summary); }, 6},
        {"animation on", [&] { return sink->SendCheckAnimation(true); }, 7},
        {"animation off", [&] { return sink->SendCheckAnimation(false); }, 8},
    };
    std::vector<int> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FromThread(c.call), 1);
        expected.push_back(c.kind);
        EXPECT_EQ(handler.kinds, expected);
    }
    // On the user-interface thread itself the call runs at once.
    EXPECT_EQ(sink->SendCheckAnimation(true), 1);
    expected.push_back(7);
    // A posted close runs later, on the event loop.
    FromThread([&] {
        sink->PostClose();
        return 0;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return handler.kinds.size() == expected.size() + 1; }));
    expected.push_back(9);
    EXPECT_EQ(handler.kinds, expected);
    EXPECT_EQ(handler.offUiThread.load(), 0);
}

TEST(QtEngineSink, ShutdownAnswersWaitingCallsAndLaterOnesAtOnce)
{
    RecordingHandler handler;
    auto sink = std::make_shared<CQtEngineSink>(handler);
    CheckResultRecord summary{};

    // A call waiting while the user-interface thread is busy elsewhere (no events handled)
    // is answered 0 by the shutdown, and its handler never runs.
    std::atomic<int> result{-1};
    std::thread waiting([&] { result = sink->SendSummary(summary); });
    QThread::msleep(100); // let it queue (nothing depends on the exact moment)
    sink->Shutdown();
    waiting.join();
    EXPECT_EQ(result.load(), 0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(handler.kinds.empty());

    struct Case {
        const char* name;
        std::function<int()> call;
    };
    const std::vector<Case> after = {
        {"summary", [&] { return sink->SendSummary(summary); }},
        {"animation", [&] { return sink->SendCheckAnimation(true); }},
    };
    for (const Case& c : after) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FromThread(c.call, false), 0); // no event loop needed to get the answer
    }
    sink->PostClose();
    QCoreApplication::processEvents();
    EXPECT_TRUE(handler.kinds.empty());
}

TEST(QtEngineSink, OutlivesItsCreatorOnAnEngineThread)
{
    RecordingHandler handler;
    auto sink = std::make_shared<CQtEngineSink>(handler);
    sink->Shutdown();
    // The last owner lets go on another thread: no event handling is needed for that.
    std::thread t([s = std::move(sink)]() mutable { s.reset(); });
    t.join();
    QCoreApplication::processEvents();
    SUCCEED();
}

} // namespace
