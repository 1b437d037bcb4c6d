#pragma once

#include "enginesink.h"

#include <mutex>
#include <string>
#include <vector>

namespace hosttest
{

// The engine's side as the plug-ins reach it: every call as one line of text, answered with
// `answer`. Thread-safe: a watch thread and the test's thread both call it.
class LineSink final : public CEngineSink
{
public:
    explicit LineSink(int answer = kHandled) : answer_(answer) {}

    int SendNewMessage(uint32_t kind, const MessageRecord&) override
    {
        return Note("message " + std::to_string(kind));
    }
    int SendExchangeMessage(const ExchangeMessageRecord& r) override
    {
        return Note("exchange " + r.account + "|" + r.subject + "|" + r.body + "|" + r.size + "|" +
                    r.from + "|" + r.date + "|" + r.folder + "|" + r.store + "|" + r.attachment);
    }
    int SendWebMailMessage(const WebMailMessageRecord& r) override
    {
        return Note("webmail " + r.url + "|" + r.subject + "|" + r.size + "|" + r.date + "|" +
                    r.from + "|" + r.account + "|" + r.reserved + "|" + r.attachment);
    }
    int SendSummary(const CheckResultRecord& r) override
    {
        return Note("summary " + std::to_string(r.result) + " " + std::to_string(r.newCount) + " " +
                    r.account);
    }
    int SendText(const CheckResultRecord& r) override { return Note("text " + r.account); }
    int SendCheckAnimation(bool on) override { return Note(on ? "animation on" : "animation off"); }
    void PostClose() override { Note("close"); }

    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }

private:
    int Note(std::string line)
    {
        std::lock_guard<std::mutex> guard(lock_);
        lines_.push_back(std::move(line));
        return answer_;
    }
    int answer_;
    std::mutex lock_;
    std::vector<std::string> lines_;
};

} // namespace hosttest
