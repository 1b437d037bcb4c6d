#pragma once

#include <cstdint>
#include <string>

class CEngineSink;

// The Exchange plug-in's log-on, as the check thread calls it. A successful log-on keeps a
// session that delivers new messages (sink.SendExchangeMessage) and summaries until log
// off. `logonDialog` 1 allows the provider's log-on dialog. `bodyLimit` is in bytes.
// Result: 0 failed for good, 1 logged on, 2 retry without dialog, 3 retry with dialog,
// 4 taken as logged on; any other value is final.
// Called on the check's own thread.
class ExchangePlugin
{
public:
    virtual ~ExchangePlugin() = default;
    virtual int LogonExchange(CEngineSink& sink, const std::string& profile,
                              const std::string& account, int logonDialog, int32_t& newCount,
                              uint32_t bodyLimit) = 0;
};
