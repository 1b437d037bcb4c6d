#include "mergethreadsink.h"

CMergeThreadSink::CMergeThreadSink(CEngineSink& handler) : handler_(handler)
{
    thread_ = std::thread([this] { Loop(); });
}

CMergeThreadSink::~CMergeThreadSink()
{
    Stop();
}

void CMergeThreadSink::Stop()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    queued_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void CMergeThreadSink::Loop()
{
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        queued_.wait(guard, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty())
            return; // stopping, and everything queued was handled
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        guard.unlock();
        int result = task.run();
        guard.lock();
        if (task.done) {
            *task.result = result;
            *task.done = true;
            handled_.notify_all();
        }
    }
}

int CMergeThreadSink::Call(std::function<int()> run)
{
    if (std::this_thread::get_id() == thread_.get_id())
        return run();
    int result = 0;
    bool done = false;
    std::unique_lock<std::mutex> guard(lock_);
    if (stopping_)
        return 0;
    tasks_.push_back({std::move(run), &result, &done});
    queued_.notify_one();
    // The loop handles every queued task before it ends, so this wait always returns.
    handled_.wait(guard, [&] { return done; });
    return result;
}

int CMergeThreadSink::SendNewMessage(uint32_t kind, const MessageRecord& record)
{
    return Call([&] { return handler_.SendNewMessage(kind, record); });
}

int CMergeThreadSink::SendExchangeMessage(const ExchangeMessageRecord& record)
{
    return Call([&] { return handler_.SendExchangeMessage(record); });
}

int CMergeThreadSink::SendWebMailMessage(const WebMailMessageRecord& record)
{
    return Call([&] { return handler_.SendWebMailMessage(record); });
}

int CMergeThreadSink::SendSummary(const CheckResultRecord& record)
{
    return Call([&] { return handler_.SendSummary(record); });
}

int CMergeThreadSink::SendServerState(const ServerStateRecord& record)
{
    return Call([&] { return handler_.SendServerState(record); });
}

int CMergeThreadSink::SendMailboxRenumbered(const std::string& account)
{
    return Call([&] { return handler_.SendMailboxRenumbered(account); });
}

int CMergeThreadSink::SendText(const CheckResultRecord& record)
{
    return Call([&] { return handler_.SendText(record); });
}

int CMergeThreadSink::SendCheckAnimation(bool on)
{
    return Call([&] { return handler_.SendCheckAnimation(on); });
}

void CMergeThreadSink::PostClose()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_)
        return;
    tasks_.push_back({[this] {
                          handler_.PostClose();
                          return 1;
                      },
                      nullptr, nullptr});
    queued_.notify_one();
}
