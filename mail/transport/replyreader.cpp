#include "replyreader.h"

#include "neterror.h"

#include <algorithm>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace
{

constexpr std::size_t kReceiveChunk = 64 * 1024;
constexpr std::size_t kCaptureLimit = 64 * 1024;
constexpr std::size_t kQuoteLimit = 200;

std::string Duration(milliseconds ms)
{
    if (ms.count() % 1000 == 0)
        return std::to_string(ms.count() / 1000) + " s";
    return std::to_string(ms.count()) + " ms";
}

// The first line of a server's text, bounded and with control bytes made visible, for a
// message a user reads (a hostile reply must not smuggle line breaks into logs or dialogs).
std::string Quote(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n' || out.size() >= kQuoteLimit)
            break;
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    }
    if (out.size() >= kQuoteLimit)
        out += "...";
    return out;
}

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

template <class Parser> int ReplyReader::Run(Parser& parser)
{
    capture_.clear();
    auto lastByte = Clock::now();
    for (;;) {
        if (pendingPos_ < pending_.size()) {
            const char* data = pending_.data() + pendingPos_;
            std::size_t used = parser.Feed(data, pending_.size() - pendingPos_);
            Capture(data, used);
            pendingPos_ += used;
            if (pendingPos_ == pending_.size())
                Reset();
            if (parser.state() == Parser::State::Error) {
                if (parser.failure() == Parser::Failure::TooLarge)
                    return Fail(neterr::kTooLarge, NetCategory::TooLarge,
                                "the reply is larger than " + std::to_string(maxBytes_) + " bytes");
                return Fail(neterr::kProtocol, NetCategory::Protocol,
                            "malformed reply: " + Quote(capture_));
            }
            if (parser.state() == Parser::State::Done)
                return 1;
        }
        auto idle = std::chrono::duration_cast<milliseconds>(Clock::now() - lastByte);
        if (idle > timeout_)
            return Fail(neterr::kTimedOut, NetCategory::TimedOut,
                        "the server sent nothing for " + Duration(timeout_));
        if (receiveBuffer_.empty())
            receiveBuffer_.resize(kReceiveChunk);
        Transport::RecvResult r = transport_.Receive(receiveBuffer_.data(), receiveBuffer_.size(),
                                                     timeout_ - idle + milliseconds(1));
        // The pending buffer is empty here (the parser took all of it), so it never holds
        // more than one receive.
        pending_.append(receiveBuffer_.data(), r.count);
        switch (r.status) {
        case Transport::RecvStatus::Data:
            lastByte = Clock::now();
            break;
        case Transport::RecvStatus::TimedOut:
            return Fail(neterr::kTimedOut, NetCategory::TimedOut,
                        "the server sent nothing for " + Duration(timeout_));
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

int ReplyReader::ReadReply(Pop3ReplyParser::Kind kind, Pop3Reply& out, bool unstuff)
{
    Pop3ReplyParser parser(kind, unstuff, maxBytes_);
    int rc = Run(parser);
    out = parser.TakeReply();
    if (rc < 0)
        return rc;
    if (out.positive)
        return 1;
    lastResponse_ = out.Text();
    SetNetError(neterr::kNegativeReply, NetCategory::NegativeReply,
                transport_.PeerName() + ": the server replied: " + Quote(out.status));
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
    int rc = Run(parser);
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
                transport_.PeerName() + ": the server replied: " + Quote(out.taggedLine));
    return 0;
}

bool ReplyReader::StartTls()
{
    if (Buffered() > 0) {
        Reset();
        transport_.Close();
        return SetNetError(neterr::kStartTlsInjection, NetCategory::Tls,
                           "cannot connect to " + transport_.PeerName() +
                               ": the server sent plain text after agreeing to start TLS "
                               "(possible injection); connection dropped");
    }
    return transport_.StartTls();
}
