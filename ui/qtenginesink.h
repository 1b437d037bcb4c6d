#pragma once

#include "enginesink.h"

#include <functional>
#include <memory>

class QObject;

// The desktop's engine sink: carries every call of the check threads, the worker and the
// plug-ins to the user-interface thread and runs it there on `handler` (the new-mail
// merge), so that every store write and every window change happens on that one thread.
// Send* wait until the handler has returned (the caller's records need to live only for
// the call); PostClose only queues.
//
// Shutdown() (the window is gone for good) answers every call still waiting with 0 and
// makes later calls return 0 at once, so a check that outlives the window never blocks on
// a thread that no longer handles events. A call made on the user-interface thread itself
// runs at once instead of deadlocking.
//
// Threads: Send*/PostClose from any thread; construction and Shutdown() on the
// user-interface thread. Hold it in a shared_ptr: the engine's threads may keep it after
// the window is gone. `handler` must stay valid until Shutdown().
class CQtEngineSink final : public CEngineSink
{
public:
    explicit CQtEngineSink(CEngineSink& handler);
    ~CQtEngineSink() override;
    CQtEngineSink(const CQtEngineSink&) = delete;
    CQtEngineSink& operator=(const CQtEngineSink&) = delete;

    void Shutdown();
    bool IsOpen() const;

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
    struct Shared;
    int Call(std::function<int()> run);

    CEngineSink& handler_;
    std::shared_ptr<Shared> shared_;
};
