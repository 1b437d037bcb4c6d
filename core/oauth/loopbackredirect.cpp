#include "loopbackredirect.h"

#include "authorizationrequest.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kRequestTime{5000};
constexpr std::chrono::milliseconds kCancelPoll{200};

struct Request {
    std::string target; // the request target of the first line, or empty when unusable
};

// Reads one request head, bounded in size and time. Empty target when it is not a whole
// "GET <target> HTTP/1.x" head within the limits.
Request ReadRequest(int fd)
{
    std::string head;
    const Clock::time_point end = Clock::now() + kRequestTime;
    char buf[1024];
    while (head.find("\r\n\r\n") == std::string::npos &&
           head.size() < LoopbackRedirect::kMaxRequestBytes) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return {};
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return {};
        const std::size_t room = LoopbackRedirect::kMaxRequestBytes - head.size();
        const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, room), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        head.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t lineEnd = head.find("\r\n");
    if (lineEnd == std::string::npos || head.find("\r\n\r\n") == std::string::npos)
        return {};
    const std::string line = head.substr(0, lineEnd);
    if (line.rfind("GET ", 0) != 0)
        return {};
    const std::size_t space = line.find(' ', 4);
    if (space == std::string::npos || line.compare(space + 1, 7, "HTTP/1.") != 0)
        return {};
    return {line.substr(4, space - 4)};
}

void Answer(int fd, int status, const std::string& text)
{
    const std::string body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + text +
                             "</title></head><body><p>" + text + "</p></body></html>";
    const std::string reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
    const std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                              "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                              std::to_string(body.size()) +
                              "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + body;
    std::size_t sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

// The value of `name` in a query string, decoded; `found` says whether it was there.
std::string QueryValue(const std::string& query, const std::string& name, bool& found)
{
    found = false;
    std::size_t from = 0;
    while (from <= query.size()) {
        std::size_t end = query.find('&', from);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(from, end - from);
        const std::size_t eq = pair.find('=');
        if (AuthorizationRequest::FormDecode(pair.substr(0, eq)) == name) {
            found = true;
            return eq == std::string::npos ? std::string()
                                           : AuthorizationRequest::FormDecode(pair.substr(eq + 1));
        }
        from = end + 1;
    }
    return {};
}

// Only printable ASCII of a provider's error text reaches the user, and not much of it.
std::string Printable(const std::string& text)
{
    std::string out;
    for (char c : text.substr(0, 200))
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    return out;
}

} // namespace

LoopbackRedirect::~LoopbackRedirect()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool LoopbackRedirect::Listen()
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error_ = std::string("cannot open the sign-in listener: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        error_ = std::string("cannot open the sign-in listener: ") + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    port_ = ntohs(address.sin_port);
    return true;
}

std::string LoopbackRedirect::RedirectUri() const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

LoopbackRedirect::Outcome LoopbackRedirect::Wait(const std::string& state,
                                                 std::chrono::milliseconds timeout,
                                                 const std::atomic<bool>* cancel)
{
    Outcome outcome;
    if (fd_ < 0) {
        outcome.error = "the sign-in listener is not open";
        return outcome;
    }
    const Clock::time_point end = Clock::now() + timeout;
    for (;;) {
        if (cancel && cancel->load()) {
            outcome.error = "the sign-in was cancelled";
            return outcome;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            outcome.error = "no answer from the browser in time: the sign-in was not completed";
            return outcome;
        }
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min(left, kCancelPoll).count()));
        if (r <= 0)
            continue;
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const Request request = ReadRequest(client);
        const std::size_t question = request.target.find('?');
        const std::string path = request.target.substr(0, question);
        if (request.target.empty() || path != "/") {
            Answer(client, request.target.empty() ? 400 : 404, "Not a sign-in answer.");
            ::close(client);
            continue;
        }
        const std::string query =
            question == std::string::npos ? std::string() : request.target.substr(question + 1);
        bool hasState = false;
        const std::string got = QueryValue(query, "state", hasState);
        if (!hasState || got != state) {
            // Not the answer to this sign-in (RFC 6749 section 10.12): keep waiting.
            Answer(client, 400, "This answer does not belong to the sign-in in progress.");
            ::close(client);
            continue;
        }
        bool hasCode = false;
        bool hasError = false;
        std::string code = QueryValue(query, "code", hasCode);
        const std::string error = QueryValue(query, "error", hasError);
        if (hasCode && !code.empty()) {
            Answer(client, 200, "Signed in. You can close this page and return to Postwatch.");
            ::close(client);
            outcome.ok = true;
            outcome.code = std::move(code);
            return outcome;
        }
        Answer(client, 400, "The sign-in was not completed. You can close this page.");
        ::close(client);
        bool hasDescription = false;
        const std::string description = QueryValue(query, "error_description", hasDescription);
        outcome.error = "the provider refused the sign-in: " +
                        Printable(hasError ? error : std::string("no code")) +
                        (description.empty() ? std::string() : " (" + Printable(description) + ")");
        return outcome;
    }
}
