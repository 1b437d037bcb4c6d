#pragma once

#include <chrono>
#include <cstddef>
#include <string>

// How long one transfer (a reply being read, a command being written) may take, so that a
// server that drips bytes cannot hold a check open for ever. Two bounds, whichever ends first:
//
// - Silence: no byte for longer than the time-out.
// - Progress: a transfer that must arrive whole (a greeting, a POP3 status line) gets one
//   time-out in all; any other transfer (a POP3 multi-line reply such as TOP, UIDL or LIST,
//   the responses to an IMAP command such as FETCH) gets one time-out for its first KiB and
//   one more for each further KiB, so it must keep a floor rate of 1 KiB per time-out
//   period, averaged from its start. A reply under 1 KiB is thus held to the time-out, a
//   large one served at any steady rate above the floor is never cut off.
//
// The clock starts when the transfer starts (the reader is called, the write begins).
// Threads: a value used by one thread.
class TransferDeadline
{
public:
    using Clock = std::chrono::steady_clock;

    enum class Rule {
        WholeWithinTimeout, // a single line: all of it within one time-out
        FloorRate,          // 1 KiB per time-out period, averaged from the start
    };
    enum class Expiry {
        None,    // still within both bounds
        Silence, // nothing for longer than the time-out
        TooSlow, // bytes came, but too few
    };

    static constexpr std::size_t kFloorBytesPerPeriod = 1024;

    TransferDeadline(std::chrono::milliseconds timeout, Rule rule, Clock::time_point start);

    // Records that the transfer has moved `total` bytes in all, the last of them now.
    void Progress(std::size_t total, Clock::time_point now);

    // What has run out at `now`; Silence when both ran out at the same moment (a server that
    // sent nothing at all is silent, not slow).
    Expiry ExpiredAt(Clock::time_point now) const;
    // Like ExpiredAt, for a wait of Remaining() that ended without progress: a wait may end a
    // little early (clocks count in whole milliseconds) or at once (a transport that knows
    // nothing more will come), and then the bound that limited it is the one that ran out.
    Expiry ExpiredAfterWait(Clock::time_point now) const;
    // The wait left before one of the bounds runs out (0 when one has), rounded up to whole
    // milliseconds so that a wait of this length ends past the bound.
    std::chrono::milliseconds Remaining(Clock::time_point now) const;

    // A message for the user: "the server is too slow: 37 bytes in 1 s (the floor is 1 KiB
    // per 1 s)", or for a single line "the server is too slow: the line did not come whole
    // within 1 s".
    std::string TooSlowText(Clock::time_point now) const;

    std::size_t Bytes() const { return bytes_; }

private:
    Clock::time_point IdleEnd() const;
    Clock::time_point ProgressEnd() const;

    std::chrono::milliseconds timeout_;
    Rule rule_;
    Clock::time_point start_;
    Clock::time_point last_;
    std::size_t bytes_ = 0;
};

// "30 s", or "1500 ms" when not whole seconds.
std::string DurationText(std::chrono::milliseconds duration);
