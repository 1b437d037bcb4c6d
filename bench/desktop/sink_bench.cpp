// How long a check thread waits per message for the window's thread to take it: N blocking
// calls through CQtEngineSink from 1 and from 4 threads while the event loop runs, against
// the same calls made directly. A check of 1 000 new messages pays this 1 000 times.
#include "qtenginesink.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace
{

class CountingHandler final : public CEngineSink
{
public:
    int SendNewMessage(uint32_t, const MessageRecord&) override { return ++count, 1; }
    int SendExchangeMessage(const ExchangeMessageRecord&) override { return 1; }
    int SendWebMailMessage(const WebMailMessageRecord&) override { return 1; }
    int SendSummary(const CheckResultRecord&) override { return 1; }
    int SendText(const CheckResultRecord&) override { return 1; }
    int SendCheckAnimation(bool) override { return 1; }
    void PostClose() override {}
    long count = 0; // the window's thread only
};

double Run(CEngineSink& sink, int threads, int perThread)
{
    const auto start = std::chrono::steady_clock::now();
    std::atomic<int> running{threads};
    std::vector<std::thread> workers;
    MessageRecord record{};
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < perThread; ++i)
                sink.SendNewMessage(1, record);
            if (--running == 0)
                QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                          Qt::QueuedConnection);
        });
    QCoreApplication::exec();
    for (std::thread& w : workers)
        w.join();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 100000;
    CountingHandler handler;
    auto sink = std::make_shared<CQtEngineSink>(handler);

    MessageRecord record{};
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < total; ++i)
        handler.SendNewMessage(1, record);
    const double direct =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    std::printf("direct call          %8.3f us/message\n", direct / total);
    for (int threads : {1, 4}) {
        const double us = Run(*sink, threads, total / threads);
        std::printf("sink, %d thread(s)    %8.3f us/message (%d messages)\n", threads,
                    us / (total / threads * threads), total / threads * threads);
    }
    sink->Shutdown();
    return handler.count == total + (total / 4) * 4 + total ? 0 : 1;
}
