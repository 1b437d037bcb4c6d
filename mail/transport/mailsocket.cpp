#include "mailsocket.h"

#include "certificatedescription.h"
#include "certificatepin.h"
#include "socketbio.h"
#include "tlssessioncache.h"
#include "transferdeadline.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace
{

int RemainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

// Waits for `events` on `fd` until `deadline`; 1 ready, 0 timed out, -1 poll failed.
// 1 ready, 0 the deadline passed, -1 failed (errno; ECANCELED: `interrupt` became readable).
int PollUntil(int fd, short events, Clock::time_point deadline, int interrupt = -1)
{
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {interrupt, POLLIN, 0}};
        int rc = ::poll(p, interrupt >= 0 ? 2 : 1, RemainingMs(deadline));
        if (rc > 0 && p[1].revents != 0 && interrupt >= 0) {
            errno = ECANCELED;
            return -1;
        }
        if (rc > 0)
            return 1;
        if (rc == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

std::string OpenSslReason()
{
    unsigned long e = ERR_peek_last_error();
    ERR_clear_error();
    if (e == 0)
        return "TLS handshake failed";
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    // "error:0A000410:SSL routines::sslv3 alert handshake failure" -> the reason part.
    std::string s = text;
    auto colon = s.rfind(':');
    return colon == std::string::npos ? s : s.substr(colon + 1);
}

// "[::1]" is how users write an IPv6 literal next to a port; getaddrinfo wants it bare.
std::string BareHost(const std::string& host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

bool IsAddressLiteral(const std::string& host)
{
    unsigned char buf[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The certificate must name the host as the user typed it: the address for a literal, else
// the DNS name, with no partial wildcards ("f*.example.com").
void RequireName(X509_VERIFY_PARAM* param, const std::string& host, bool isAddress)
{
    if (isAddress) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
    }
}

// OpenSSL's words for a verification failure, with the name we asked for when the
// certificate is for another one (OpenSSL only says "hostname mismatch").
std::string CertificateProblem(long verify, const std::string& host)
{
    std::string why =
        std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify);
    if (verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH)
        why += " (the certificate is not for " + host + ")";
    return why;
}

// OpenSSL calls this for every session the server gives us (after the handshake under TLS
// 1.2, with each ticket under TLS 1.3); the newest one is kept for the next connection.
int KeepNewSession(SSL* ssl, SSL_SESSION* session)
{
    const auto* key = static_cast<const std::string*>(SSL_get_app_data(ssl));
    if (key == nullptr || SSL_SESSION_is_resumable(session) != 1)
        return 0;
    TlsSessionCache::Instance().Store(*key, session);
    return 1; // the cache keeps the reference it was given
}

} // namespace

MailSocket::~MailSocket()
{
    Close();
}

bool MailSocket::SessionReused() const
{
    return ssl_ != nullptr && SSL_session_reused(ssl_) == 1;
}

std::string MailSocket::PeerName() const
{
    if (host_.find(':') != std::string::npos)
        return "[" + host_ + "]:" + std::to_string(port_);
    return host_ + ":" + std::to_string(port_);
}

bool MailSocket::FailConnect(int code, NetCategory category, const std::string& why)
{
    Close();
    return SetNetError(code, category, "cannot connect to " + PeerName() + ": " + why);
}

bool MailSocket::WaitFor(short events, const TransferDeadline& deadline)
{
    const auto now = Clock::now();
    int rc = PollUntil(fd_, events, now + deadline.Remaining(now), interrupt_);
    if (rc > 0)
        return true;
    if (rc < 0)
        return SetNetError(neterr::kSocket, NetCategory::Failed,
                           PeerName() + ": poll: " + std::strerror(errno));
    const auto end = Clock::now();
    if (deadline.ExpiredAfterWait(end) == TransferDeadline::Expiry::TooSlow)
        return SetNetError(neterr::kTimedOut, NetCategory::TooSlow,
                           PeerName() + ": " + deadline.TooSlowText(end) + " (while sending)");
    return SetNetError(neterr::kTimedOut, NetCategory::TimedOut,
                       PeerName() + ": the server took nothing we sent for " +
                           DurationText(timeout_));
}

bool MailSocket::Connect(const std::string& host, int port, milliseconds timeout, Security security)
{
    Close();
    host_ = BareHost(host);
    port_ = port;
    timeout_ = timeout;
    hostIsAddress_ = IsAddressLiteral(host_);
    if (host_.empty() || port <= 0 || port > 65535)
        return FailConnect(neterr::kUnknownHost, NetCategory::UnknownHost,
                           "no server name or port");

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (hostIsAddress_ ? AI_NUMERICHOST : 0);
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(host_.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0)
        return FailConnect(neterr::kUnknownHost, NetCategory::UnknownHost,
                           std::string("host not found (") + ::gai_strerror(rc) + ")");

    // Each address gets the whole time-out: a refused address fails at once, and a silent
    // one should not eat the time of the next (a dead IPv6 route before a working IPv4).
    int lastErrno = 0;
    for (addrinfo* ai = list; ai != nullptr && fd_ < 0; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          ai->ai_protocol);
        if (fd < 0) {
            lastErrno = errno;
            continue;
        }
        int err = 0;
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                int ready = PollUntil(fd, POLLOUT, Clock::now() + timeout, interrupt_);
                socklen_t len = sizeof err;
                if (ready == 0)
                    err = ETIMEDOUT;
                else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
        if (err != 0) {
            lastErrno = err;
            ::close(fd);
            continue;
        }
        fd_ = fd;
    }
    ::freeaddrinfo(list);

    if (fd_ < 0) {
        if (lastErrno == ECONNREFUSED)
            return FailConnect(neterr::kRefused, NetCategory::ConnectFailed, "connection refused");
        if (lastErrno == ETIMEDOUT)
            return FailConnect(neterr::kTimedOut, NetCategory::ConnectFailed,
                               "no answer within " + std::to_string(timeout.count()) + " ms");
        return FailConnect(neterr::kUnreachable, NetCategory::ConnectFailed,
                           std::strerror(lastErrno));
    }
    // Commands are short and pipelined; do not let Nagle hold them back.
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    if (security == Security::ImplicitTls)
        return Handshake(true);
    return true;
}

bool MailSocket::Handshake(bool firstContact)
{
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (ctx_ == nullptr)
        return FailConnect(neterr::kTls, NetCategory::Tls, "cannot set up TLS");
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // A fresh context per connection, so SSL_CERT_FILE / SSL_CERT_DIR are read as they are now.
    SSL_CTX_set_default_verify_paths(ctx_);
    // OpenSSL verifies the chain and the name as always and keeps its verdict, but lets the
    // handshake end either way: AcceptPeer then decides with the certificate in hand, which
    // it needs for an account that trusts this one certificate and for the refusal's text.
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    // The mail protocols frame their own replies, so a missing close_notify is just an end
    // of stream, not an error worth a different result.
    SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    // Sessions go to the process-wide cache (the context lives only as long as this
    // connection), so that the next check of this server can resume.
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx_, KeepNewSession);

    ssl_ = SSL_new(ctx_);
    BIO* bio = NewSocketBio(fd_);
    if (ssl_ == nullptr || bio == nullptr) {
        if (bio != nullptr)
            BIO_free(bio);
        return FailConnect(neterr::kTls, NetCategory::Tls, "cannot set up TLS");
    }
    SSL_set_bio(ssl_, bio, bio);

    RequireName(SSL_get0_param(ssl_), host_, hostIsAddress_);
    if (!hostIsAddress_)
        SSL_set_tlsext_host_name(ssl_, host_.c_str());

    sessionKey_ = TlsSessionCache::KeyOf(host_, port_);
    SSL_set_app_data(ssl_, &sessionKey_);
    if (SSL_SESSION* cached = TlsSessionCache::Instance().Take(sessionKey_)) {
        SSL_set_session(ssl_, cached); // takes a reference of its own
        SSL_SESSION_free(cached);
    }

    const auto deadline = Clock::now() + timeout_;
    for (;;) {
        ERR_clear_error();
        int rc = SSL_connect(ssl_);
        if (rc == 1)
            return AcceptPeer();
        int err = SSL_get_error(ssl_, rc);
        short events = err == SSL_ERROR_WANT_READ    ? POLLIN
                       : err == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                     : 0;
        if (events != 0) {
            int ready = PollUntil(fd_, events, deadline, interrupt_);
            if (ready > 0)
                continue;
            // With implicit TLS the server's first handshake bytes are its greeting.
            if (ready == 0 && firstContact && BIO_number_read(SSL_get_rbio(ssl_)) == 0)
                return FailConnect(neterr::kTimedOut, NetCategory::NoGreeting,
                                   "no greeting within " + DurationText(timeout_) +
                                       " (the server did not answer the TLS handshake)");
            if (ready == 0)
                return FailConnect(neterr::kTimedOut, NetCategory::TimedOut,
                                   "the TLS handshake did not complete within " +
                                       DurationText(timeout_));
            return FailConnect(neterr::kSocket, NetCategory::Failed, std::strerror(errno));
        }
        if (err == SSL_ERROR_SYSCALL || err == SSL_ERROR_ZERO_RETURN) {
            std::string why = errno != 0 && ERR_peek_error() == 0
                                  ? std::string(std::strerror(errno))
                                  : OpenSslReason();
            return FailConnect(neterr::kTls, NetCategory::Tls, "TLS handshake failed: " + why);
        }
        return FailConnect(neterr::kTls, NetCategory::Tls,
                           "TLS handshake failed: " + OpenSslReason());
    }
}

// The handshake is complete and nothing has been sent over it yet: accept the certificate
// or drop the connection. A refused server resumes nothing it gave us before.
bool MailSocket::AcceptPeer()
{
    PeerCertificate seen = DescribeCertificate(SSL_get0_peer_certificate(ssl_));
    const std::string fingerprint = " (SHA-256 fingerprint " + seen.sha256 + ")";
    if (seen.Empty()) {
        TlsSessionCache::Instance().Forget(sessionKey_);
        return FailConnect(neterr::kCertificate, NetCategory::Tls,
                           "the server showed no certificate");
    }
    if (!pin_.empty()) {
        // The account trusts one certificate: whether it verifies does not matter, and no
        // other is taken, however well it verifies.
        if (seen.sha256 == pin_)
            return true;
        seen.changed = true;
        TlsSessionCache::Instance().Forget(sessionKey_);
        return RefuseCertificate(neterr::kCertificateChanged,
                                 "the server's certificate changed: the account trusts " +
                                     PinStart(pin_) + ", the server now shows " +
                                     PinStart(seen.sha256) + fingerprint,
                                 std::move(seen));
    }
    const long verify =
        SSL_session_reused(ssl_) == 1 ? VerifyResumedChain() : SSL_get_verify_result(ssl_);
    if (verify == X509_V_OK)
        return true;
    TlsSessionCache::Instance().Forget(sessionKey_);
    return RefuseCertificate(neterr::kCertificate, CertificateProblem(verify, host_) + fingerprint,
                             std::move(seen));
}

bool MailSocket::RefuseCertificate(int code, const std::string& why, PeerCertificate certificate)
{
    Close();
    return SetCertificateError(code, "cannot connect to " + PeerName() + ": " + why,
                               std::move(certificate));
}

// A resumed session skips the certificate exchange, and OpenSSL then reports the verdict of
// the handshake that made the session. The trust store may have changed since (a CA removed,
// SSL_CERT_FILE pointed elsewhere) and the certificate may have expired: check the chain the
// session carries again, against the store and the name as they are now.
long MailSocket::VerifyResumedChain()
{
    X509* leaf = SSL_get0_peer_certificate(ssl_);
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl_);
    X509_STORE_CTX* check = X509_STORE_CTX_new();
    long verify = X509_V_ERR_UNSPECIFIED;
    if (leaf != nullptr && check != nullptr &&
        X509_STORE_CTX_init(check, SSL_CTX_get_cert_store(ctx_), leaf, chain) == 1 &&
        X509_STORE_CTX_set_default(check, "ssl_server") == 1) {
        RequireName(X509_STORE_CTX_get0_param(check), host_, hostIsAddress_);
        verify = X509_verify_cert(check) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(check);
    }
    X509_STORE_CTX_free(check);
    return verify;
}

bool MailSocket::StartTls()
{
    if (fd_ < 0)
        return SetNetError(neterr::kNotConnected, NetCategory::Failed, "not connected");
    if (ssl_ != nullptr)
        return FailConnect(neterr::kTls, NetCategory::Tls, "TLS is already on");
    // RFC 2595 section 3.1 / RFC 3207 section 4.2: anything the server sent after its
    // go-ahead and before the handshake would otherwise be taken for protected data.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
        int queued = 0;
        if (::ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0)
            return FailConnect(neterr::kStartTlsInjection, NetCategory::Tls,
                               "the server sent plain text after agreeing to start TLS "
                               "(possible injection); connection dropped");
        return FailConnect(neterr::kClosed, NetCategory::Closed,
                           "the server closed the connection before TLS");
    }
    return Handshake(false);
}

bool MailSocket::Send(std::string_view bytes)
{
    if (fd_ < 0)
        return SetNetError(neterr::kNotConnected, NetCategory::Failed, "not connected");
    // A server that takes our bytes a few at a time is held to the same floor as one that
    // sends its replies that way.
    TransferDeadline deadline(timeout_, TransferDeadline::Rule::FloorRate, Clock::now());
    std::size_t sent = 0;
    while (!bytes.empty()) {
        short wait = 0;
        std::size_t done = 0;
        if (ssl_ != nullptr) {
            ERR_clear_error();
            int chunk = bytes.size() > 1 << 30 ? 1 << 30 : static_cast<int>(bytes.size());
            int rc = SSL_write(ssl_, bytes.data(), chunk);
            if (rc > 0) {
                done = static_cast<std::size_t>(rc);
            } else {
                int err = SSL_get_error(ssl_, rc);
                if (err == SSL_ERROR_WANT_WRITE)
                    wait = POLLOUT;
                else if (err == SSL_ERROR_WANT_READ)
                    wait = POLLIN;
                else
                    return SetNetError(neterr::kClosed, NetCategory::Closed,
                                       PeerName() + ": sending failed: " + OpenSslReason());
            }
        } else {
            ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n >= 0) {
                done = static_cast<std::size_t>(n);
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                wait = POLLOUT;
            } else if (errno != EINTR) {
                bool closed = errno == EPIPE || errno == ECONNRESET;
                return SetNetError(closed ? neterr::kClosed : neterr::kSocket,
                                   closed ? NetCategory::Closed : NetCategory::Failed,
                                   PeerName() + ": sending failed: " + std::strerror(errno));
            }
        }
        if (done > 0) {
            bytes.remove_prefix(done);
            sent += done;
            deadline.Progress(sent, Clock::now());
        } else if (wait != 0 && !WaitFor(wait, deadline)) {
            return false;
        }
    }
    return true;
}

Transport::RecvResult MailSocket::Receive(char* buffer, std::size_t capacity, milliseconds wait)
{
    if (fd_ < 0) {
        SetNetError(neterr::kNotConnected, NetCategory::Failed, "not connected");
        return {RecvStatus::Failed, 0};
    }
    const auto deadline = Clock::now() + wait;
    const int cap = capacity > 1 << 30 ? 1 << 30 : static_cast<int>(capacity);
    for (;;) {
        short waitFor = POLLIN;
        if (ssl_ != nullptr) {
            ERR_clear_error();
            int rc = SSL_read(ssl_, buffer, cap);
            if (rc > 0)
                return {RecvStatus::Data, static_cast<std::size_t>(rc)};
            int err = SSL_get_error(ssl_, rc);
            if (err == SSL_ERROR_ZERO_RETURN)
                return {RecvStatus::Closed, 0};
            if (err == SSL_ERROR_WANT_WRITE) {
                waitFor = POLLOUT;
            } else if (err == SSL_ERROR_SYSCALL && (errno == ECONNRESET || errno == EPIPE)) {
                return {RecvStatus::Closed, 0};
            } else if (err != SSL_ERROR_WANT_READ) {
                SetNetError(neterr::kTls, NetCategory::Tls,
                            PeerName() + ": TLS failure: " + OpenSslReason());
                return {RecvStatus::Failed, 0};
            }
        } else {
            ssize_t n = ::recv(fd_, buffer, capacity, 0);
            if (n > 0)
                return {RecvStatus::Data, static_cast<std::size_t>(n)};
            if (n == 0 || errno == ECONNRESET)
                return {RecvStatus::Closed, 0};
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                SetNetError(neterr::kSocket, NetCategory::Failed,
                            PeerName() + ": receiving failed: " + std::strerror(errno));
                return {RecvStatus::Failed, 0};
            }
        }
        int ready = PollUntil(fd_, waitFor, deadline, interrupt_);
        if (ready == 0)
            return {RecvStatus::TimedOut, 0};
        if (ready < 0) {
            SetNetError(neterr::kSocket, NetCategory::Failed,
                        PeerName() + ": poll: " + std::strerror(errno));
            return {RecvStatus::Failed, 0};
        }
    }
}

void MailSocket::Close()
{
    if (ssl_ != nullptr) {
        // A polite close_notify, without waiting for the server's: it may never come.
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
        SSL_free(ssl_); // frees the BIO, which does not close the descriptor
        ssl_ = nullptr;
    }
    if (ctx_ != nullptr) {
        SSL_CTX_free(ctx_);
        ctx_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}
