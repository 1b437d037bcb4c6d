#pragma once

#include <atomic>
#include <chrono>
#include <string>

// The redirect end of a sign-in (RFC 8252 section 7.3): a listener on 127.0.0.1 on a port
// the kernel picks, which takes exactly one redirect, the one carrying the expected `state`.
//
// Each connection may send at most 8 KiB of request head and must finish it within five
// seconds; anything else (another path, a wrong or missing state, a request that is too
// big or too slow) gets an error page and the listener keeps waiting, so a stray page or a
// forged redirect can neither end nor hijack the sign-in. The browser gets a small page
// saying whether to go back to the program. The listener stops at the first good redirect,
// at the time-out, or when `cancel` becomes true.
//
// Threads: one thread uses an object; `cancel` may be set from any thread.
class LoopbackRedirect
{
public:
    struct Outcome {
        bool ok = false;
        std::string code;  // the authorization code (a secret: never log it)
        std::string error; // for the user when !ok: the provider's refusal or the time-out
    };

    LoopbackRedirect() = default;
    ~LoopbackRedirect();
    LoopbackRedirect(const LoopbackRedirect&) = delete;
    LoopbackRedirect& operator=(const LoopbackRedirect&) = delete;

    // Opens the listening socket. False with Error() when it cannot.
    bool Listen();
    int Port() const { return port_; }
    // "http://127.0.0.1:<port>/" (RFC 8252 section 7.3 uses the loopback IP literal).
    std::string RedirectUri() const;
    const std::string& Error() const { return error_; }

    Outcome Wait(const std::string& state, std::chrono::milliseconds timeout,
                 const std::atomic<bool>* cancel = nullptr);

    static constexpr std::size_t kMaxRequestBytes = 8192;

private:
    int fd_ = -1;
    int port_ = 0;
    std::string error_;
};
