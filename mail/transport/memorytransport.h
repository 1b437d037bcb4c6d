#pragma once

#include "transport.h"

#include <string>
#include <vector>

// A Transport that replays scripted server bytes from memory and records what the client
// sends: for unit tests of the readers and clients, and for fuzz targets.
//
// The server's bytes are a list of segments; a Receive never crosses a segment boundary, and
// with a chunk size set it returns at most that many bytes, so a test can split a reply at
// every byte. When the script is used up, Receive answers Closed (the default) or TimedOut
// (AtEnd::Silence) at once, without really waiting.
//
// StartTls succeeds (and is counted) unless bytes of the current segment are still unread:
// those stand for plain text queued behind the go-ahead, which a real connection refuses.
// Later segments stand for what arrives through TLS. FailStartTls() makes it fail anyway.
// Threads: one thread at a time.
class MemoryTransport final : public Transport
{
public:
    enum class AtEnd { Close, Silence };

    MemoryTransport() = default;
    explicit MemoryTransport(std::string bytes, std::size_t chunk = 0, AtEnd atEnd = AtEnd::Close);

    // Appends a segment of server bytes.
    void Add(std::string bytes) { segments_.push_back(std::move(bytes)); }
    void SetChunk(std::size_t chunk) { chunk_ = chunk; }
    void SetAtEnd(AtEnd atEnd) { atEnd_ = atEnd; }
    void FailStartTls() { tlsFails_ = true; }
    // A Send fails once this many bytes have been sent in all (a server that hung up).
    void FailSendAfter(std::size_t bytes) { sendLimit_ = bytes; }

    bool Send(std::string_view bytes) override;
    RecvResult Receive(char* buffer, std::size_t capacity, std::chrono::milliseconds wait) override;
    bool StartTls() override;
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    std::string PeerName() const override { return "memory"; }

    const std::string& Sent() const { return sent_; }
    int TlsStarts() const { return tlsStarts_; }
    // Server bytes not yet received.
    std::size_t Unread() const;

private:
    std::vector<std::string> segments_;
    std::size_t segment_ = 0;
    std::size_t offset_ = 0;
    std::size_t chunk_ = 0;
    AtEnd atEnd_ = AtEnd::Close;
    std::string sent_;
    std::size_t sendLimit_ = static_cast<std::size_t>(-1);
    bool open_ = true;
    bool tlsFails_ = false;
    int tlsStarts_ = 0;
};
