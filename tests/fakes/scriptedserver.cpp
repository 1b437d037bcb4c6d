#include "scriptedserver.h"

#include "socketbio.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace
{
constexpr auto kTick = std::chrono::milliseconds(20);
constexpr auto kStepLimit = std::chrono::seconds(5);

bool WouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
} // namespace

ScriptedServer::ScriptedServer() = default;

ScriptedServer::~ScriptedServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    Drop();
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

ScriptedServer& ScriptedServer::Expect(std::string prefix)
{
    steps_.push_back({Step::kExpect, std::move(prefix), {}, 0, ms(0)});
    return *this;
}

ScriptedServer& ScriptedServer::Send(std::string bytes, std::size_t chunk, ms delay)
{
    steps_.push_back({Step::kSend, std::move(bytes), {}, chunk, delay});
    return *this;
}

ScriptedServer& ScriptedServer::StartTls(std::string certFile, std::string keyFile)
{
    steps_.push_back({Step::kStartTls, std::move(certFile), std::move(keyFile), 0, ms(0)});
    return *this;
}

ScriptedServer& ScriptedServer::Silence(ms duration)
{
    steps_.push_back({Step::kSilence, {}, {}, 0, duration});
    return *this;
}

ScriptedServer& ScriptedServer::Close()
{
    steps_.push_back({Step::kClose, {}, {}, 0, ms(0)});
    return *this;
}

ScriptedServer& ScriptedServer::Reset()
{
    steps_.push_back({Step::kReset, {}, {}, 0, ms(0)});
    return *this;
}

bool ScriptedServer::Start(bool ipv6)
{
    listenFd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return false;
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        len = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof *a;
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return false;
    port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                       : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool ScriptedServer::Finish(ms timeout)
{
    auto deadline = Clock::now() + timeout;
    while (!stepsDone_ && Clock::now() < deadline)
        std::this_thread::sleep_for(kTick);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stepsDone_ && failure_.empty())
        failure_ = "the script did not finish in time";
    return stepsDone_ && failure_.empty();
}

std::vector<std::string> ScriptedServer::Transcript() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return transcript_;
}

std::string ScriptedServer::Failure() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

void ScriptedServer::Fail(const std::string& why)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty())
        failure_ = why;
}

void ScriptedServer::Drop()
{
    if (ssl_ != nullptr) {
        SSL_free(ssl_);
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

void ScriptedServer::Run()
{
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (fd_ < 0 && !stop_ && Clock::now() < deadline) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(kTick.count())) > 0)
            fd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    }
    if (fd_ < 0) {
        Fail("no client connected");
        stepsDone_ = true;
        return;
    }
    bool ok = true;
    for (const Step& step : steps_) {
        if (!ok || stop_ || fd_ < 0)
            break;
        ok = RunStep(step);
    }
    stepsDone_ = true;
    // Keep the connection, and record what the client still sends (QUIT, LOGOUT).
    std::string line;
    while (ok && fd_ >= 0 && !stop_ && ReadLine(line, Clock::time_point::max())) {
    }
}

bool ScriptedServer::RunStep(const Step& step)
{
    switch (step.kind) {
    case Step::kExpect: {
        std::string line;
        if (!ReadLine(line, Clock::now() + kStepLimit)) {
            Fail("expected a line beginning \"" + step.text + "\", got none");
            Drop();
            return false;
        }
        if (line.compare(0, step.text.size(), step.text) != 0) {
            Fail("expected a line beginning \"" + step.text + "\", got \"" + line + "\"");
            Drop();
            return false;
        }
        return true;
    }
    case Step::kSend: {
        std::size_t chunk = step.chunk == 0 ? step.text.size() : step.chunk;
        for (std::size_t at = 0; at < step.text.size(); at += chunk) {
            std::size_t n = std::min(chunk, step.text.size() - at);
            if (!Write(step.text.data() + at, n))
                return false;
            if (step.delay.count() > 0 && !Pause(step.delay))
                return false;
        }
        return true;
    }
    case Step::kStartTls: {
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (ctx_ == nullptr || SSL_CTX_use_certificate_chain_file(ctx_, step.text.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx_, step.key.c_str(), SSL_FILETYPE_PEM) != 1) {
            Fail("cannot load the test certificate " + step.text);
            Drop();
            return false;
        }
        ssl_ = SSL_new(ctx_);
        BIO* bio = NewSocketBio(fd_);
        SSL_set_bio(ssl_, bio, bio); // one reference serves both directions
        auto deadline = Clock::now() + kStepLimit;
        for (;;) {
            ERR_clear_error();
            int rc = SSL_accept(ssl_);
            if (rc == 1)
                return true;
            int err = SSL_get_error(ssl_, rc);
            short events = err == SSL_ERROR_WANT_READ    ? POLLIN
                           : err == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                         : 0;
            if (events == 0 || stop_ || Clock::now() > deadline) {
                // The client refused the certificate, or went away: that is what many tests
                // want, so it is recorded in the transcript rather than as a failure.
                std::lock_guard<std::mutex> lock(mutex_);
                transcript_.push_back("<TLS handshake failed>");
                ERR_clear_error();
                SSL_free(ssl_);
                ssl_ = nullptr;
                ::close(fd_);
                fd_ = -1;
                return false;
            }
            pollfd p{fd_, events, 0};
            ::poll(&p, 1, static_cast<int>(kTick.count()));
        }
    }
    case Step::kSilence:
        return Pause(step.delay);
    case Step::kClose:
        if (ssl_ != nullptr)
            SSL_shutdown(ssl_);
        Drop();
        return true;
    case Step::kReset: {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Drop();
        return true;
    }
    }
    return false;
}

bool ScriptedServer::Pause(ms duration)
{
    auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        if (stop_)
            return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(kTick, until - Clock::now()));
    }
    return true;
}

bool ScriptedServer::Write(const char* data, std::size_t size)
{
    auto deadline = Clock::now() + kStepLimit;
    while (size > 0) {
        long n = 0;
        short wait = POLLOUT;
        if (ssl_ != nullptr) {
            ERR_clear_error();
            int rc = SSL_write(ssl_, data, static_cast<int>(size));
            if (rc > 0)
                n = rc;
            else if (int err = SSL_get_error(ssl_, rc); err == SSL_ERROR_WANT_READ)
                wait = POLLIN;
            else if (err != SSL_ERROR_WANT_WRITE)
                return false;
        } else {
            n = ::send(fd_, data, size, MSG_NOSIGNAL);
            if (n < 0 && !WouldBlock())
                return false;
        }
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (stop_ || Clock::now() > deadline)
            return false;
        pollfd p{fd_, wait, 0};
        ::poll(&p, 1, static_cast<int>(kTick.count()));
    }
    return true;
}

bool ScriptedServer::ReadLine(std::string& line, Clock::time_point deadline)
{
    for (;;) {
        auto nl = inbox_.find('\n');
        if (nl != std::string::npos) {
            line = inbox_.substr(0, nl);
            inbox_.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::lock_guard<std::mutex> lock(mutex_);
            transcript_.push_back(line);
            return true;
        }
        char buf[4096];
        long n = 0;
        short wait = POLLIN;
        if (ssl_ != nullptr) {
            ERR_clear_error();
            int rc = SSL_read(ssl_, buf, sizeof buf);
            if (rc > 0)
                n = rc;
            else if (int err = SSL_get_error(ssl_, rc); err == SSL_ERROR_WANT_WRITE)
                wait = POLLOUT;
            else if (err != SSL_ERROR_WANT_READ)
                return false;
        } else {
            n = ::recv(fd_, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && !WouldBlock()))
                return false;
        }
        if (n > 0) {
            inbox_.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (stop_ || Clock::now() > deadline)
            return false;
        pollfd p{fd_, wait, 0};
        ::poll(&p, 1, static_cast<int>(kTick.count()));
    }
}
