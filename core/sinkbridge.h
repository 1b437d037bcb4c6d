#pragma once

#include "checksink.h" // the protocol clients' delivery interface (mail/)

class CEngineSink;

// Hands the protocol clients' deliveries to the engine's sink (kind 1 POP3, 2 IMAP4),
// synchronously, on the check's thread.
class CSinkBridge final : public CheckSink
{
public:
    explicit CSinkBridge(CEngineSink& sink) : sink_(sink) {}
    void DeliverMessage(int kind, const MessageRecord& record) override;
    void ServerState(const std::string& account, const std::vector<std::string>& seen,
                     const std::vector<std::string>& gone) override;

private:
    CEngineSink& sink_;
};
