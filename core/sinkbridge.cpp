#include "sinkbridge.h"

#include "enginesink.h"

void CSinkBridge::DeliverMessage(int kind, const MessageRecord& record)
{
    sink_.SendNewMessage(static_cast<uint32_t>(kind), record);
}
