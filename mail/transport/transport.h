#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

// A byte stream to a mail server. The protocol clients and their reply readers talk only to
// this interface, so that the same code runs over a real connection (MailSocket) and over
// scripted bytes in memory (MemoryTransport, used by tests and fuzz targets).
//
// Threads: an object is used by one thread at a time (the thread that runs the check).
// Errors: a failing call stores its reason with SetNetError (neterror.h) before returning.
class Transport
{
public:
    enum class RecvStatus {
        Data,     // `count` bytes were stored
        Closed,   // the peer ended the stream (or reset it); nothing more will come
        TimedOut, // nothing arrived within the wait
        Failed,   // a local or TLS failure; the transport is unusable
    };
    struct RecvResult {
        RecvStatus status = RecvStatus::Failed;
        std::size_t count = 0;
    };

    virtual ~Transport() = default;

    // Writes all of `bytes`, or fails. Never raises SIGPIPE.
    virtual bool Send(std::string_view bytes) = 0;

    // Stores up to `capacity` bytes (capacity > 0) that are ready, waiting at most `wait` for
    // the first one. Returns as soon as any byte is there; it does not wait to fill the buffer.
    virtual RecvResult Receive(char* buffer, std::size_t capacity,
                               std::chrono::milliseconds wait) = 0;

    // Upgrades the open plain connection to TLS (STLS / STARTTLS). The caller has read the
    // server's go-ahead line and holds no unread bytes. Fails, dropping the connection, when
    // the server already queued plain-text bytes after its go-ahead (those would otherwise be
    // read as if they came through TLS), when the handshake fails or times out, or when the
    // certificate does not verify.
    virtual bool StartTls() = 0;

    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Who is at the other end ("mail.example.com:995"), for error messages.
    virtual std::string PeerName() const = 0;
};
