#pragma once

#include "postwatch_plugin.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// A PwSink that keeps everything the library says: records, summaries and questions. Its
// answers are set by the test. Calls may come from any thread.
class RecordingSink
{
public:
    struct Question {
        std::string text, caption;
        uint32_t buttons = 0, icon = 0;
    };
    struct Summary {
        int32_t code = 0, count = 0;
        std::string account;
    };

    PwSink Sink()
    {
        PwSink s{};
        s.ctx = this;
        s.deliver = &RecordingSink::Deliver;
        s.result = &RecordingSink::Result;
        s.ask = &RecordingSink::Ask;
        return s;
    }

    void SetDeliverAnswer(int32_t answer)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        deliverAnswer_ = answer;
    }
    void SetAskAnswer(int32_t answer)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        askAnswer_ = answer;
    }

    std::vector<std::vector<std::string>> Records() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    // Field 1 of each record, in order.
    std::vector<std::string> Subjects() const
    {
        std::vector<std::string> out;
        for (const auto& r : Records())
            out.push_back(r.size() > 1 ? r[1] : std::string());
        return out;
    }
    std::vector<Summary> Summaries() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return summaries_;
    }
    std::vector<Question> Questions() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return questions_;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.clear();
        summaries_.clear();
        questions_.clear();
    }

    // From now on every record or summary counts as late (the library promised none).
    void Close() { closed_ = true; }
    int Late() const { return late_; }

    // Waits (at most `bound`, a generous limit, not a measurement) until `n` summaries came.
    bool WaitForSummaries(size_t n, std::chrono::seconds bound = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return summaries_.size() >= n; });
    }

    bool WaitForRecords(size_t n, std::chrono::seconds bound = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return records_.size() >= n; });
    }

private:
    static int32_t Deliver(void* ctx, uint32_t kind, const char* const* fields, uint32_t count)
    {
        auto* self = static_cast<RecordingSink*>(ctx);
        if (self->closed_)
            ++self->late_;
        std::vector<std::string> record;
        for (uint32_t i = 0; i < count; ++i)
            record.emplace_back(fields[i]);
        std::lock_guard<std::mutex> lock(self->mutex_);
        if (kind == PW_RECORD_EXCHANGE && count == 9 && self->deliverAnswer_ == PW_SINK_HANDLED)
            self->records_.push_back(std::move(record));
        self->changed_.notify_all();
        return kind == PW_RECORD_EXCHANGE && count == 9 ? self->deliverAnswer_ : PW_SINK_FRONT_GONE;
    }
    static int32_t Result(void* ctx, int32_t code, int32_t count, const char* account)
    {
        auto* self = static_cast<RecordingSink*>(ctx);
        if (self->closed_)
            ++self->late_;
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->summaries_.push_back({code, count, account ? account : ""});
        self->changed_.notify_all();
        return PW_SINK_HANDLED;
    }
    static int32_t Ask(void* ctx, const char* text, const char* caption, uint32_t buttons,
                       uint32_t icon)
    {
        auto* self = static_cast<RecordingSink*>(ctx);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->questions_.push_back({text ? text : "", caption ? caption : "", buttons, icon});
        return buttons == PW_ASK_RETRYCANCEL ? self->askAnswer_ : PW_ANSWER_OK;
    }

    std::atomic<bool> closed_{false};
    std::atomic<int> late_{0};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int32_t deliverAnswer_ = PW_SINK_HANDLED;
    int32_t askAnswer_ = PW_ANSWER_CANCEL;
    std::vector<std::vector<std::string>> records_;
    std::vector<Summary> summaries_;
    std::vector<Question> questions_;
};
