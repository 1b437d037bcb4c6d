#pragma once

#include "neterror.h"
#include "transport.h"

#include <chrono>
#include <string>

struct ssl_st;
struct ssl_ctx_st;

// One TCP connection to a mail server, optionally under TLS (OpenSSL 3).
//
// Connect resolves the host with getaddrinfo (IPv4 and IPv6; an address literal such as
// "192.0.2.7", "::1" or "[::1]" is used as it is, without a look-up), tries each address with
// a connect bounded by the time-out, and for implicit TLS (ports 995/993) runs the handshake,
// also bounded by the time-out. StartTls upgrades an open plain connection after the
// server's STLS / STARTTLS go-ahead.
//
// TLS always verifies: the certificate chain against the default trust store (the
// environment variables SSL_CERT_FILE and SSL_CERT_DIR, read at each handshake, replace its
// file and folder), and the certificate's names against the host as the user typed it (DNS
// name, or IP address for a literal). SNI is sent for names, never for literals. A
// verification failure is a failed connect (kCertificate) whose message says why, in
// OpenSSL's words, and gives the certificate's fingerprint ("certificate verify failed:
// self-signed certificate (SHA-256 fingerprint 3fa1...)"); the error carries the
// certificate's description (NetError::certificate) for an offer to trust it.
//
// An account that trusts one certificate (SetPinnedCertificate) accepts exactly that one,
// whether it verifies or not (self-signed, unknown issuer, another name), and refuses every
// other, also one that verifies, with kCertificateChanged. The decision is taken when the
// handshake is complete and before Connect or StartTls returns, so nothing of the caller's
// (no credential) has gone out on a connection that is then refused.
//
// TLS sessions are resumed across connections to the same host and port (TlsSessionCache):
// the next check of an account skips the full handshake where the server allows it. The
// certificate of a resumed session is verified again, as if it had just been sent.
//
// The socket is non-blocking throughout, so every wait is a poll bounded by the time-out:
// the TLS handshake (implicit or after STARTTLS) must complete within one time-out, and a
// Send must keep the floor rate of transferdeadline.h. Writes use MSG_NOSIGNAL (also under
// TLS) so a server that hangs up cannot raise SIGPIPE.
//
// Threads: one thread at a time. Ownership: the object owns its socket and TLS state and
// closes them in Close and in the destructor. A closed MailSocket may connect again.
class TransferDeadline;

class MailSocket final : public Transport
{
public:
    enum class Security {
        Plain,       // plain TCP; StartTls may follow
        ImplicitTls, // TLS from the first byte
    };

    MailSocket() = default;
    ~MailSocket() override;
    MailSocket(const MailSocket&) = delete;
    MailSocket& operator=(const MailSocket&) = delete;

    // Connects; true on success. On failure the last error is one of kUnknownHost (10022),
    // kRefused, kUnreachable, kTimedOut (connect or handshake), kCertificate or kTls, and its
    // message begins "cannot connect to <host>:<port>: ". `timeout` also bounds each later
    // Send and StartTls.
    bool Connect(const std::string& host, int port, std::chrono::milliseconds timeout,
                 Security security = Security::Plain);

    // The SHA-256 (certificatepin.h) of the one certificate later handshakes accept; empty
    // (the default) lets the trust store and the host name decide.
    void SetPinnedCertificate(std::string pin) { pin_ = std::move(pin); }

    // A descriptor (an eventfd) whose becoming readable ends every wait of this socket at
    // once as a failure: connecting, the TLS handshake, sending and receiving. For an owner
    // on another thread that must stop the connection without waiting out its time-out.
    // -1 (the default): none.
    void SetInterrupt(int fd) { interrupt_ = fd; }

    bool Send(std::string_view bytes) override;
    // Closed and TimedOut are returned without touching the last error (the reader that
    // called knows what it was waiting for); Failed stores the reason.
    RecvResult Receive(char* buffer, std::size_t capacity, std::chrono::milliseconds wait) override;
    bool StartTls() override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }

    bool IsTls() const { return ssl_ != nullptr; }
    // The socket's descriptor (-1 when closed), for a caller that waits on it together with
    // other descriptors; it reads only through Receive, which drains TLS-buffered bytes first.
    int Descriptor() const { return fd_; }
    // True when the TLS session was resumed from an earlier connection (no full handshake).
    bool SessionReused() const;
    // "host:port" ("[::1]:993" for IPv6), for messages.
    std::string PeerName() const override;

private:
    bool Handshake(bool firstContact);
    bool AcceptPeer();
    long VerifyResumedChain();
    bool FailConnect(int code, NetCategory category, const std::string& why);
    bool RefuseCertificate(int code, const std::string& why, PeerCertificate certificate);
    bool WaitFor(short events, const TransferDeadline& deadline);

    int fd_ = -1;
    ssl_ctx_st* ctx_ = nullptr;
    ssl_st* ssl_ = nullptr;
    std::string host_;
    int port_ = 0;
    std::string sessionKey_; // TlsSessionCache key; OpenSSL's callback reads it
    std::string pin_;
    bool hostIsAddress_ = false;
    int interrupt_ = -1;
    std::chrono::milliseconds timeout_{30000};
};
