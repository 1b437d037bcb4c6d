#include "transferdeadline.h"

#include <algorithm>

using std::chrono::milliseconds;

namespace
{

// A deadline further away than a year is no deadline; keeps the sums below far from the
// range of the clock.
constexpr milliseconds kFarAway = std::chrono::hours(24 * 365);

} // namespace

TransferDeadline::TransferDeadline(milliseconds timeout, Rule rule, Clock::time_point start)
    : timeout_(std::clamp(timeout, milliseconds(0), kFarAway)), rule_(rule), start_(start),
      last_(start)
{
}

void TransferDeadline::Progress(std::size_t total, Clock::time_point now)
{
    if (total > bytes_)
        last_ = now;
    bytes_ = std::max(bytes_, total);
}

TransferDeadline::Clock::time_point TransferDeadline::IdleEnd() const
{
    return last_ + timeout_;
}

TransferDeadline::Clock::time_point TransferDeadline::ProgressEnd() const
{
    if (rule_ == Rule::WholeWithinTimeout)
        return start_ + timeout_;
    const std::size_t periods = 1 + bytes_ / kFloorBytesPerPeriod;
    const auto cap = static_cast<std::size_t>(kFarAway / std::max(timeout_, milliseconds(1)));
    if (periods > cap)
        return start_ + kFarAway;
    return start_ + timeout_ * static_cast<long long>(periods);
}

TransferDeadline::Expiry TransferDeadline::ExpiredAt(Clock::time_point now) const
{
    const Clock::time_point idle = IdleEnd();
    const Clock::time_point progress = ProgressEnd();
    if (progress < idle && now > progress)
        return Expiry::TooSlow;
    if (now > idle)
        return Expiry::Silence;
    return Expiry::None;
}

TransferDeadline::Expiry TransferDeadline::ExpiredAfterWait(Clock::time_point now) const
{
    const Expiry expiry = ExpiredAt(now);
    if (expiry != Expiry::None)
        return expiry;
    return ProgressEnd() < IdleEnd() ? Expiry::TooSlow : Expiry::Silence;
}

milliseconds TransferDeadline::Remaining(Clock::time_point now) const
{
    const Clock::time_point end = std::min(IdleEnd(), ProgressEnd());
    if (end <= now)
        return milliseconds(0);
    return std::chrono::ceil<milliseconds>(end - now) + milliseconds(1);
}

std::string TransferDeadline::TooSlowText(Clock::time_point now) const
{
    if (rule_ == Rule::WholeWithinTimeout)
        return "the server is too slow: the line did not come whole within " +
               DurationText(timeout_);
    const auto took = std::chrono::duration_cast<milliseconds>(now - start_);
    return "the server is too slow: " + std::to_string(bytes_) + " bytes in " + DurationText(took) +
           " (the floor is 1 KiB per " + DurationText(timeout_) + ")";
}

std::string DurationText(milliseconds duration)
{
    if (duration.count() % 1000 == 0)
        return std::to_string(duration.count() / 1000) + " s";
    return std::to_string(duration.count()) + " ms";
}
