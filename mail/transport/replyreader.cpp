#include "replyreader.h"

#include "neterror.h"

#include <algorithm>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace
{

constexpr std::size_t kReceiveChunk = 64 * 1024;
constexpr std::size_t kCaptureLimit = 64 * 1024;

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

ReplyReader::ReplyReader(Transport& transport, milliseconds timeout)
    : transport_(transport), timeout_(timeout)
{
}

void ReplyReader::Reset()
{
    DropPending();
    heardFromServer_ = false;
}

void ReplyReader::DropPending()
{
    pending_.clear();
    pendingPos_ = 0;
}

void ReplyReader::Capture(const char* data, std::size_t size)
{
    std::size_t room = kCaptureLimit - std::min(kCaptureLimit, capture_.size());
    capture_.append(data, std::min(room, size));
}

int ReplyReader::Fail(int code, NetCategory category, const std::string& why)
{
    lastResponse_ = std::move(capture_);
    capture_.clear();
    SetNetError(code, category, transport_.PeerName() + ": " + why);
    return -1;
}

template <class Parser> int ReplyReader::Run(Parser& parser, TransferDeadline::Rule rule)
{
    capture_.clear();
    TransferDeadline deadline(timeout_, rule, Clock::now());
    for (;;) {
        if (pendingPos_ < pending_.size()) {
            const char* data = pending_.data() + pendingPos_;
            std::size_t used = parser.Feed(data, pending_.size() - pendingPos_);
            Capture(data, used);
            pendingPos_ += used;
            if (pendingPos_ == pending_.size())
                DropPending();
            if (parser.state() == Parser::State::Error) {
                if (parser.failure() == Parser::Failure::TooLarge)
                    return Fail(neterr::kTooLarge, NetCategory::TooLarge,
                                "the reply is larger than " + std::to_string(maxBytes_) + " bytes");
                return Fail(neterr::kProtocol, NetCategory::Protocol,
                            "malformed reply: " + QuoteServerText(capture_));
            }
            if (parser.state() == Parser::State::Done)
                return 1;
        }
        auto now = Clock::now();
        deadline.Progress(parser.Consumed(), now);
        if (deadline.ExpiredAt(now) != TransferDeadline::Expiry::None)
            return TimedOut(deadline, now);
        if (receiveBuffer_.empty())
            receiveBuffer_.resize(kReceiveChunk);
        Transport::RecvResult r = transport_.Receive(receiveBuffer_.data(), receiveBuffer_.size(),
                                                     deadline.Remaining(now));
        // The pending buffer is empty here (the parser took all of it), so it never holds
        // more than one receive.
        pending_.append(receiveBuffer_.data(), r.count);
        switch (r.status) {
        case Transport::RecvStatus::Data:
            heardFromServer_ = heardFromServer_ || r.count > 0;
            break;
        case Transport::RecvStatus::TimedOut:
            return TimedOut(deadline, Clock::now());
        case Transport::RecvStatus::Closed:
            return Fail(neterr::kClosed, NetCategory::Closed,
                        capture_.empty() ? "the server closed the connection"
                                         : "the server closed the connection in mid-reply");
        case Transport::RecvStatus::Failed:
            // The transport stored its own reason; keep it as it is.
            lastResponse_ = std::move(capture_);
            capture_.clear();
            return -1;
        }
    }
}

int ReplyReader::TimedOut(const TransferDeadline& deadline, Clock::time_point now)
{
    if (deadline.ExpiredAfterWait(now) == TransferDeadline::Expiry::TooSlow)
        return Fail(neterr::kTimedOut, NetCategory::TooSlow, deadline.TooSlowText(now));
    if (!heardFromServer_)
        return Fail(neterr::kTimedOut, NetCategory::NoGreeting,
                    "no greeting within " + DurationText(timeout_));
    return Fail(neterr::kTimedOut, NetCategory::TimedOut,
                "the server sent nothing for " + DurationText(timeout_));
}

int ReplyReader::ReadReply(Pop3ReplyParser::Kind kind, Pop3Reply& out, bool unstuff)
{
    Pop3ReplyParser parser(kind, unstuff, maxBytes_);
    int rc = Run(parser, kind == Pop3ReplyParser::Kind::SingleLine
                             ? TransferDeadline::Rule::WholeWithinTimeout
                             : TransferDeadline::Rule::FloorRate);
    out = parser.TakeReply();
    if (rc < 0)
        return rc;
    if (out.positive)
        return 1;
    lastResponse_ = out.Text();
    SetNetError(neterr::kNegativeReply, NetCategory::NegativeReply,
                transport_.PeerName() + ": the server replied: " + QuoteServerText(out.status));
    return 0;
}

int ReplyReader::ReadTagged(std::string_view expected, ImapReply& out)
{
    return Tagged(expected, out, false);
}

int ReplyReader::ReadContinuation(std::string_view tag, ImapReply& out)
{
    return Tagged(tag, out, true);
}

int ReplyReader::Tagged(std::string_view expected, ImapReply& out, bool stopAtContinuation)
{
    std::string tag(expected.substr(0, expected.find(' ')));
    ImapReplyParser parser(tag, stopAtContinuation, maxBytes_);
    // The untagged data of a FETCH or SEARCH comes ahead of the tagged line: the whole is one
    // transfer, and a short reply is still held to the time-out.
    int rc = Run(parser, TransferDeadline::Rule::FloorRate);
    out = parser.TakeReply();
    if (rc < 0)
        return rc;
    if (out.continuation)
        return 1;
    bool ok = out.status == ImapStatus::Ok;
    if (ok) {
        // Kept from the first clients of this reader: success that came with both kinds of
        // untagged complaint is treated as failure. Only real untagged responses count, never
        // the bytes of a literal.
        bool untaggedBad = false;
        bool untaggedNo = false;
        for (const ImapResponse& r : out.responses) {
            untaggedBad = untaggedBad || StartsWith(r.text, "* BAD");
            untaggedNo = untaggedNo || StartsWith(r.text, "* NO");
        }
        ok = !(untaggedBad && untaggedNo);
    }
    if (ok)
        return 1;
    lastResponse_ = std::move(capture_);
    capture_.clear();
    SetNetError(neterr::kNegativeReply, NetCategory::NegativeReply,
                transport_.PeerName() + ": the server replied: " + QuoteServerText(out.taggedLine));
    return 0;
}

bool ReplyReader::StartTls()
{
    if (Buffered() > 0) {
        DropPending();
        transport_.Close();
        return SetNetError(neterr::kStartTlsInjection, NetCategory::Tls,
                           "cannot connect to " + transport_.PeerName() +
                               ": the server sent plain text after agreeing to start TLS "
                               "(possible injection); connection dropped");
    }
    return transport_.StartTls();
}
