#pragma once

#include "postwatch_plugin.h"

#include <cstddef>
#include <mutex>
#include <shared_mutex>
#include <string>

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
// failure: the library's reason of a failing call, kept for Failure(). A library of another
// build is not trusted with it either: at most kFailureReadLimit bytes are read, and the text
// is made printable and cut to PW_FAILURE_TEXT_MAX bytes; a null text reads as empty.
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

    // More than a text within PW_FAILURE_TEXT_MAX can take, however the library encodes it.
    static constexpr size_t kFailureReadLimit = 4 * PW_FAILURE_TEXT_MAX;

    const PwSink* Sink() const { return &sink_; }
    void Retarget(CEngineSink* target);
    // The last text the library passed to failure, bounded and printable; empty when none.
    std::string Failure() const;

private:
    static int32_t Deliver(void* ctx, uint32_t kind, const char* const* fields, uint32_t count);
    static int32_t Result(void* ctx, int32_t code, int32_t count, const char* account);
    static int32_t Ask(void* ctx, const char* text, const char* caption, uint32_t buttons,
                       uint32_t icon);
    static void Failed(void* ctx, const char* text);

    std::shared_mutex lock_; // shared by the calls, exclusive for Retarget
    CEngineSink* target_;
    mutable std::mutex failureLock_;
    std::string failure_;
    PwSink sink_;
};
