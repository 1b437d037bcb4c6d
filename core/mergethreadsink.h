#pragma once

#include "enginesink.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// The headless front's sink: every call is handled by `handler` on one merge thread of
// its own, in arrival order, so that all Message.box and UID.inf writes happen on that
// thread one at a time, as the desktop's UI thread does them. Send* wait until the
// handler has returned (like SendMessage); PostClose only queues.
//
// After Stop() (or destruction) queued calls are still handled, then the thread ends;
// later Send* return 0 at once instead of waiting for a thread that is gone, so a check
// that outlives the front cannot hang on it.
//
// Threads: any thread may call; a call made on the merge thread itself (the handler
// calling back) runs at once instead of deadlocking. `handler` must outlive this object.
class CMergeThreadSink final : public CEngineSink
{
public:
    explicit CMergeThreadSink(CEngineSink& handler);
    ~CMergeThreadSink() override;
    CMergeThreadSink(const CMergeThreadSink&) = delete;
    CMergeThreadSink& operator=(const CMergeThreadSink&) = delete;

    void Stop();

    int SendNewMessage(uint32_t kind, const MessageRecord& record) override;
    int SendExchangeMessage(const ExchangeMessageRecord& record) override;
    int SendWebMailMessage(const WebMailMessageRecord& record) override;
    int SendSummary(const CheckResultRecord& record) override;
    int SendText(const CheckResultRecord& record) override;
    int SendServerState(const ServerStateRecord& record) override;
    int SendMailboxRenumbered(const std::string& account) override;
    int SendCheckAnimation(bool on) override;
    void PostClose() override;

private:
    struct Task {
        std::function<int()> run;
        int* result = nullptr; // null for a posted task
        bool* done = nullptr;
    };
    int Call(std::function<int()> run);
    void Loop();

    CEngineSink& handler_;
    std::mutex lock_;
    std::condition_variable queued_;
    std::condition_variable handled_;
    std::deque<Task> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};
