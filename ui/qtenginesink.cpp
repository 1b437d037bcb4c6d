#include "qtenginesink.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <set>

namespace
{

struct Pending {
    std::function<int()> run;
    int result = 0;
    bool done = false;
};

} // namespace

// What the queued calls need after the sink itself may be gone: they hold this, never the
// sink, so a call that is delivered late finds the sink closed instead of freed memory.
struct CQtEngineSink::Shared {
    std::mutex lock;
    std::condition_variable answered;
    bool open = true;
    std::set<std::shared_ptr<Pending>> waiting;
    QObject* receiver = nullptr; // lives on the user-interface thread

    void Run(const std::shared_ptr<Pending>& p)
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            // Not in the set: Shutdown() has already answered it, and its caller may have
            // returned, taking the records the call refers to with it.
            if (waiting.erase(p) == 0)
                return;
        }
        int result = p->run();
        std::lock_guard<std::mutex> guard(lock);
        p->result = result;
        p->done = true;
        answered.notify_all();
    }
};

CQtEngineSink::CQtEngineSink(CEngineSink& handler)
    : handler_(handler), shared_(std::make_shared<Shared>())
{
    shared_->receiver = new QObject;
}

CQtEngineSink::~CQtEngineSink()
{
    Shutdown();
    // The last owner may be an engine thread: the receiver must die on its own thread.
    if (QThread::currentThread() == shared_->receiver->thread())
        delete shared_->receiver;
    else
        shared_->receiver->deleteLater();
}

void CQtEngineSink::Shutdown()
{
    std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->open = false;
    for (const std::shared_ptr<Pending>& p : shared_->waiting)
        p->done = true; // result stays 0: not handled
    shared_->waiting.clear();
    shared_->answered.notify_all();
}

bool CQtEngineSink::IsOpen() const
{
    std::lock_guard<std::mutex> guard(shared_->lock);
    return shared_->open;
}

int CQtEngineSink::Call(std::function<int()> run)
{
    if (QThread::currentThread() == shared_->receiver->thread())
        return IsOpen() ? run() : 0;

    auto p = std::make_shared<Pending>();
    p->run = std::move(run);
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        if (!shared_->open)
            return 0;
        shared_->waiting.insert(p);
    }
    std::shared_ptr<Shared> shared = shared_;
    QMetaObject::invokeMethod(
        shared->receiver, [shared, p] { shared->Run(p); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> guard(shared->lock);
    shared->answered.wait(guard, [&] { return p->done; });
    return p->result;
}

int CQtEngineSink::SendNewMessage(uint32_t kind, const MessageRecord& record)
{
    return Call([&] { return handler_.SendNewMessage(kind, record); });
}

int CQtEngineSink::SendExchangeMessage(const ExchangeMessageRecord& record)
{
    return Call([&] { return handler_.SendExchangeMessage(record); });
}

int CQtEngineSink::SendWebMailMessage(const WebMailMessageRecord& record)
{
    return Call([&] { return handler_.SendWebMailMessage(record); });
}

int CQtEngineSink::SendSummary(const CheckResultRecord& record)
{
    return Call([&] { return handler_.SendSummary(record); });
}

int CQtEngineSink::SendServerState(const ServerStateRecord& record)
{
    return Call([&] { return handler_.SendServerState(record); });
}

int CQtEngineSink::SendMailboxRenumbered(const std::string& account)
{
    return Call([&] { return handler_.SendMailboxRenumbered(account); });
}

int CQtEngineSink::SendText(const CheckResultRecord& record)
{
    return Call([&] { return handler_.SendText(record); });
}

int CQtEngineSink::SendCheckAnimation(bool on)
{
    return Call([&] { return handler_.SendCheckAnimation(on); });
}

void CQtEngineSink::PostClose()
{
    std::shared_ptr<Shared> shared = shared_;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (!shared->open)
            return;
    }
    CEngineSink* handler = &handler_;
    QMetaObject::invokeMethod(
        shared->receiver,
        [shared, handler] {
            bool open = false;
            {
                std::lock_guard<std::mutex> guard(shared->lock);
                open = shared->open;
            }
            if (open)
                handler->PostClose();
        },
        Qt::QueuedConnection);
}
