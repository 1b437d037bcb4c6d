#include "oauthstate.h"

#include "apppaths.h"
#include "atomicfilewriter.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr std::size_t kMaxFile = 64 * 1024;

bool Clean(const std::string& value)
{
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

} // namespace

std::string OAuthState::PathOf(const std::string& account)
{
    return AppPaths::AccountDir(account) + "/OAuth.state";
}

std::string OAuthState::Format(const OAuthState& s)
{
    std::string out = "Provider=" + s.provider + "\n";
    if (s.needsSignIn)
        out += "NeedsSignIn=Yes\n";
    if (!s.accessToken.empty())
        out += "Expires=" + std::to_string(static_cast<long long>(s.expires)) +
               "\nAccessToken=" + s.accessToken + "\n";
    return out;
}

OAuthState OAuthState::Parse(const std::string& bytes)
{
    OAuthState s;
    if (bytes.size() > kMaxFile)
        return s;
    std::size_t from = 0;
    while (from < bytes.size()) {
        std::size_t end = bytes.find('\n', from);
        if (end == std::string::npos)
            break; // a line without its end is not whole
        const std::string line = bytes.substr(from, end - from);
        from = end + 1;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "Provider") {
            s.provider = value;
        } else if (key == "NeedsSignIn") {
            s.needsSignIn = value == "Yes";
        } else if (key == "AccessToken") {
            s.accessToken = value;
        } else if (key == "Expires") {
            long long n = 0;
            const auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec == std::errc() && p == value.data() + value.size())
                s.expires = static_cast<std::time_t>(n);
        }
    }
    // A token without its expiry counts as expired, and an expiry without a token as none.
    if (s.expires == 0 || s.accessToken.empty()) {
        s.accessToken.clear();
        s.expires = 0;
    }
    return s;
}

int OAuthState::Load(const std::string& account, OAuthState& state)
{
    state = OAuthState{};
    const int fd = ::open(PathOf(account).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::string bytes;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buf, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxFile)
            break;
    }
    ::close(fd);
    state = Parse(bytes);
    return state.provider.empty() ? 0 : 1;
}

int OAuthState::Save(const std::string& account, const OAuthState& state, std::string* error)
{
    if (!Clean(state.provider) || !Clean(state.accessToken)) {
        if (error)
            *error = "the sign-in state holds a line break";
        return 0;
    }
    AtomicFileWriter writer(PathOf(account), 0600);
    if (!writer.Open() || !writer.Write(Format(state)) || !writer.Commit()) {
        if (error)
            *error = "cannot write the sign-in state: " + writer.Error();
        return 0;
    }
    return 1;
}
