#include "sinkbridge.h"

#include "enginesink.h"

void CSinkBridge::DeliverMessage(int kind, const MessageRecord& record)
{
    sink_.SendNewMessage(static_cast<uint32_t>(kind), record);
}

void CSinkBridge::ServerState(const std::string& account, const std::vector<std::string>& seen,
                              const std::vector<std::string>& gone)
{
    sink_.SendServerState({account, seen, gone});
}
