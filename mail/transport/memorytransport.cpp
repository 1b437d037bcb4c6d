#include "memorytransport.h"

#include "neterror.h"

#include <algorithm>
#include <cstring>

MemoryTransport::MemoryTransport(std::string bytes, std::size_t chunk, AtEnd atEnd)
    : chunk_(chunk), atEnd_(atEnd)
{
    segments_.push_back(std::move(bytes));
}

bool MemoryTransport::Send(std::string_view bytes)
{
    if (!open_)
        return SetNetError(neterr::kNotConnected, NetCategory::Failed, "not connected");
    if (sent_.size() + bytes.size() > sendLimit_)
        return SetNetError(neterr::kClosed, NetCategory::Closed,
                           "memory: sending failed: the server hung up");
    sent_.append(bytes);
    return true;
}

Transport::RecvResult MemoryTransport::Receive(char* buffer, std::size_t capacity,
                                               std::chrono::milliseconds)
{
    if (!open_) {
        SetNetError(neterr::kNotConnected, NetCategory::Failed, "not connected");
        return {RecvStatus::Failed, 0};
    }
    while (segment_ < segments_.size() && offset_ >= segments_[segment_].size()) {
        ++segment_;
        offset_ = 0;
    }
    if (segment_ >= segments_.size())
        return {atEnd_ == AtEnd::Close ? RecvStatus::Closed : RecvStatus::TimedOut, 0};
    const std::string& s = segments_[segment_];
    std::size_t n = std::min(capacity, s.size() - offset_);
    if (chunk_ > 0)
        n = std::min(n, chunk_);
    std::memcpy(buffer, s.data() + offset_, n);
    offset_ += n;
    return {RecvStatus::Data, n};
}

std::size_t MemoryTransport::Unread() const
{
    std::size_t left = 0;
    for (std::size_t i = segment_; i < segments_.size(); ++i)
        left += segments_[i].size() - (i == segment_ ? offset_ : 0);
    return left;
}

bool MemoryTransport::StartTls()
{
    if (!open_)
        return SetNetError(neterr::kNotConnected, NetCategory::Failed, "not connected");
    // Bytes of the segment that carried the go-ahead count as queued plain text, as they
    // would sit in a socket's receive buffer.
    if (tlsFails_ || (segment_ < segments_.size() && offset_ < segments_[segment_].size())) {
        open_ = false;
        return SetNetError(tlsFails_ ? neterr::kTls : neterr::kStartTlsInjection, NetCategory::Tls,
                           tlsFails_ ? "memory: TLS handshake failed"
                                     : "memory: plain text queued after the TLS go-ahead");
    }
    ++tlsStarts_;
    return true;
}
