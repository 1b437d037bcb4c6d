#include "pluginsink.h"

#include "checkrecords.h"
#include "dialoguebox.h"
#include "enginesink.h"
#include "printabletext.h"

#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace
{

constexpr uint32_t kExchangeFields = 9;
constexpr uint32_t kWebMailFields = 8;

std::string Text(const char* text)
{
    return text ? std::string(text) : std::string();
}

} // namespace

PluginSink::PluginSink(CEngineSink* target) : target_(target)
{
    sink_.ctx = this;
    sink_.deliver = &PluginSink::Deliver;
    sink_.result = &PluginSink::Result;
    sink_.ask = &PluginSink::Ask;
    sink_.failure = &PluginSink::Failed;
}

void PluginSink::Retarget(CEngineSink* target)
{
    std::unique_lock<std::shared_mutex> guard(lock_);
    target_ = target;
}

int32_t PluginSink::Deliver(void* ctx, uint32_t kind, const char* const* fields, uint32_t count)
{
    auto* self = static_cast<PluginSink*>(ctx);
    if (!self || !fields)
        return PW_SINK_NOT_STORED;
    // The count is the plug-in's word for how many pointers there are: a record whose count
    // is not its kind's is refused whole rather than read short or beyond its end.
    if (kind == PW_RECORD_EXCHANGE && count == kExchangeFields) {
        ExchangeMessageRecord r;
        r.account = Text(fields[0]);
        r.subject = Text(fields[1]);
        r.body = Text(fields[2]);
        r.size = Text(fields[3]);
        r.from = Text(fields[4]);
        r.date = Text(fields[5]);
        r.folder = Text(fields[6]);
        r.store = Text(fields[7]);
        r.attachment = Text(fields[8]);
        std::shared_lock<std::shared_mutex> guard(self->lock_);
        return self->target_ ? self->target_->SendExchangeMessage(r) : PW_SINK_FRONT_GONE;
    }
    if (kind == PW_RECORD_WEBMAIL && count == kWebMailFields) {
        WebMailMessageRecord r;
        r.url = Text(fields[0]);
        r.subject = Text(fields[1]);
        r.size = Text(fields[2]);
        r.date = Text(fields[3]);
        r.from = Text(fields[4]);
        r.account = Text(fields[5]);
        r.reserved = Text(fields[6]);
        r.attachment = Text(fields[7]);
        std::shared_lock<std::shared_mutex> guard(self->lock_);
        return self->target_ ? self->target_->SendWebMailMessage(r) : PW_SINK_FRONT_GONE;
    }
    return PW_SINK_NOT_STORED;
}

int32_t PluginSink::Result(void* ctx, int32_t code, int32_t count, const char* account)
{
    auto* self = static_cast<PluginSink*>(ctx);
    if (!self)
        return PW_SINK_FRONT_GONE;
    const CheckResultRecord summary(code, count < 0 ? 0 : count, Text(account));
    std::shared_lock<std::shared_mutex> guard(self->lock_);
    return self->target_ ? self->target_->SendSummary(summary) : PW_SINK_FRONT_GONE;
}

int32_t PluginSink::Ask(void*, const char* text, const char* caption, uint32_t buttons,
                        uint32_t icon)
{
    const int style = buttons == PW_ASK_RETRYCANCEL ? kDialogueRetryCancel : kDialogueOk;
    int iconStyle = 0;
    if (icon == PW_ASK_ICON_INFORMATION)
        iconStyle = kDialogueIconInformation;
    else if (icon == PW_ASK_ICON_QUESTION)
        iconStyle = kDialogueIconQuestion;
    return DialogueBox(Text(text), Text(caption), nullptr, style, iconStyle);
}

void PluginSink::Failed(void* ctx, const char* text)
{
    auto* self = static_cast<PluginSink*>(ctx);
    if (!self)
        return;
    std::string bounded =
        text ? BoundedPrintableText(std::string_view(text, strnlen(text, kFailureReadLimit)),
                                    PW_FAILURE_TEXT_MAX)
             : std::string();
    std::lock_guard<std::mutex> guard(self->failureLock_);
    self->failure_ = std::move(bounded);
}

std::string PluginSink::Failure() const
{
    std::lock_guard<std::mutex> guard(failureLock_);
    return failure_;
}
