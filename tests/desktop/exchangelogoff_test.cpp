// The log-off command on the user-interface thread while the mailbox plug-in's watch thread
// waits for that very thread to store a new message: the log-off waits for the report, the
// report is stored, and neither waits for ever.
#include "exchangelogoff.h"
#include "mapiprobelibrary.h"
#include "qtenginesink.h"

#include <QCoreApplication>
#include <QThread>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace
{

// What the program stores, and on which thread.
class StoringHandler final : public CEngineSink
{
public:
    int SendNewMessage(uint32_t, const MessageRecord&) override { return 1; }
    int SendExchangeMessage(const ExchangeMessageRecord& r) override
    {
        onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        subjects.push_back(r.subject);
        return 1;
    }
    int SendWebMailMessage(const WebMailMessageRecord&) override { return 1; }
    int SendSummary(const CheckResultRecord&) override { return 1; }
    int SendText(const CheckResultRecord&) override { return 1; }
    int SendCheckAnimation(bool) override { return 1; }
    void PostClose() override {}
    std::vector<std::string> subjects;
    bool onUiThread = false;
};

// The library: its log-off waits for a report under way, as the real one does.
PwSink g_kept{};
std::mutex g_lock;
std::condition_variable g_settled;
bool g_reporting = false;

int32_t KeepSink(const PwSink* sink, const char*, const char*, int32_t, int32_t*, uint32_t)
{
    g_kept = *sink;
    return PW_LOGON_DONE;
}

void WaitForReport(const PwSink*)
{
    std::unique_lock<std::mutex> guard(g_lock);
    g_settled.wait(guard, [] { return !g_reporting; });
}

int32_t None(char**)
{
    return 0;
}

int32_t Present()
{
    return 1;
}

TEST(ExchangeLogoff, WaitsForTheReportItKeepsHandling)
{
    StoringHandler handler;
    auto sink = std::make_shared<CQtEngineSink>(handler);
    MapiprobeLibrary library(sink, {KeepSink, WaitForReport, None, Present});
    StoringHandler check;
    int32_t count = 0;
    ASSERT_EQ(library.LogonExchange(check, "Local mail", "Local", 0, count, 2048), PW_LOGON_DONE);

    g_reporting = true; // before the thread starts: the log-off must wait for it
    std::thread watch([] {
        const char* const record[9] = {"Local", "new",   "",     "1.00 K", "a",
                                       "d",     "Inbox", "Mail", "No"};
        g_kept.deliver(g_kept.ctx, PW_RECORD_EXCHANGE, record, 9);
        std::lock_guard<std::mutex> guard(g_lock);
        g_reporting = false;
        g_settled.notify_all();
    });
    LogoffWhileHandlingEvents(library);
    watch.join();

    EXPECT_FALSE(library.LoggedOn());
    EXPECT_EQ(handler.subjects, std::vector<std::string>{"new"});
    EXPECT_TRUE(handler.onUiThread);
    EXPECT_TRUE(check.subjects.empty()); // the check had ended: the watch reports to the program
    sink->Shutdown();
}

} // namespace
