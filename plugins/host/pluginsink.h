#pragma once

#include "postwatch_plugin.h"

#include <shared_mutex>

class CEngineSink;

// The sink a plug-in library reports through (the C PwSink), over the engine's CEngineSink.
//
// deliver: kind 3 (9 fields) becomes an ExchangeMessageRecord for SendExchangeMessage, kind
// 4 (8 fields) a WebMailMessageRecord for SendWebMailMessage; the target's answer
// (PW_SINK_FRONT_GONE, _HANDLED, _NOT_STORED) goes back unchanged. A record of another kind,
// with another field count or without its field array is refused with PW_SINK_NOT_STORED and
// never read beyond the fields its kind has; a null field reads as empty text.
// result: a summary (kind 5) for SendSummary with the code, the count and the account.
// ask: DialogueBox with the standard button and icon styles; the answer is the id of the
// button pressed (PW_ANSWER_*). Buttons other than OK and Retry/Cancel show as OK.
//
// Retarget() points the record and summary calls at another CEngineSink (nullptr: answer
// PW_SINK_FRONT_GONE). It waits for a call in progress, so once it returns nothing reaches
// the former target again: a log-on reports through the check's sink during the call and
// through the program's sink after it.
//
// Threads: the PwSink may be called from any thread, also from several at once (a log-on
// scan and the watch thread); Retarget from any thread, but never from inside a call of this
// sink. The object must stay put and alive while a library may call it (it is the context
// of Sink()).
class PluginSink
{
public:
    explicit PluginSink(CEngineSink* target);
    PluginSink(const PluginSink&) = delete;
    PluginSink& operator=(const PluginSink&) = delete;

    const PwSink* Sink() const { return &sink_; }
    void Retarget(CEngineSink* target);

private:
    static int32_t Deliver(void* ctx, uint32_t kind, const char* const* fields, uint32_t count);
    static int32_t Result(void* ctx, int32_t code, int32_t count, const char* account);
    static int32_t Ask(void* ctx, const char* text, const char* caption, uint32_t buttons,
                       uint32_t icon);

    std::shared_mutex lock_; // shared by the calls, exclusive for Retarget
    CEngineSink* target_;
    PwSink sink_;
};
