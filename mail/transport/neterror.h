#pragma once

#include "peercertificate.h"

#include <string>
#include <string_view>

// The thread's last network error: a numeric code that keeps the Windows Sockets numbers
// the rest of the engine already knows, a category a caller can act on, and a message a
// user can read ("cannot connect to mail.example.com:995: certificate verify failed:
// self-signed certificate").
//
// Every failing operation of the transport and the reply readers stores its error here
// before it returns its failure value; successful operations leave it alone, as the
// Windows last-error value behaves. The value is thread-local: each check thread sees only
// its own errors.

namespace neterr
{
constexpr int kNone = 0;
constexpr int kUnknownHost = 10022;   // WSAEINVAL: the host is neither an address nor resolvable
constexpr int kNegativeReply = 10043; // WSAEPROTONOSUPPORT: a complete reply was negative
constexpr int kTooLarge = 10040;      // WSAEMSGSIZE: a reply over the per-reply cap
constexpr int kClosed = 10054;        // WSAECONNRESET: the server closed or reset the connection
constexpr int kTimedOut = 10060;      // WSAETIMEDOUT: silence longer than the time-out
constexpr int kRefused = 10061;       // WSAECONNREFUSED: nothing listens on the port
constexpr int kUnreachable = 10065;   // WSAEHOSTUNREACH: no route, or every address failed
constexpr int kNotConnected = 10057;  // WSAENOTCONN: an operation on a closed transport
constexpr int kSocket = 10050;        // WSAENETDOWN: any other socket failure
constexpr int kTls = 20001;           // TLS handshake or record failure
constexpr int kCertificate = 20002;   // the server's certificate did not verify
constexpr int kStartTlsInjection = 20003;  // plain-text bytes were queued after the go-ahead
constexpr int kProtocol = 20004;           // the server broke the protocol's framing
constexpr int kStartTlsRefused = 20005;    // the server answered STARTTLS / STLS with a refusal
constexpr int kStartTlsMissing = 20006;    // TLS is required and the server does not offer it
constexpr int kLoginWithoutTls = 20007;    // PREAUTH on a connection that must get TLS first
constexpr int kCertificateChanged = 20008; // the account trusts another certificate than shown
} // namespace neterr

enum class NetCategory {
    None,
    UnknownHost,   // look-up failed
    ConnectFailed, // refused, unreachable, connect time-out
    TimedOut,      // idle time-out while reading (or writing)
    NoGreeting,    // connected, but the server said nothing within the time-out
    TooSlow,       // the server kept sending, but below the floor rate (transport.h)
    Closed,        // the server closed or reset the connection
    TooLarge,      // a reply exceeded the cap
    NegativeReply, // the server said no
    Tls,           // handshake, certificate or STARTTLS policy failure
    Protocol,      // malformed reply framing
    Failed,        // any other local failure
};

struct NetError {
    int code = neterr::kNone;
    NetCategory category = NetCategory::None;
    std::string message;
    // The certificate that was refused (kCertificate, kCertificateChanged); empty otherwise.
    PeerCertificate certificate;
};

// Stores the error of the calling thread and returns false, so failures read
// `return SetNetError(...);` in functions that answer bool.
bool SetNetError(int code, NetCategory category, std::string message);
// The same for a refused server certificate (category Tls), keeping its description.
bool SetCertificateError(int code, std::string message, PeerCertificate certificate);
void ClearNetError();
const NetError& LastNetError();
// Short-hand for LastNetError().code, the value callers compare with 10060 and friends.
int LastNetErrorCode();

// The first line of a server's text, bounded (200 bytes), control bytes made visible, for a
// message a user reads: a hostile reply must not smuggle line breaks into logs or dialogs.
std::string QuoteServerText(std::string_view text);
