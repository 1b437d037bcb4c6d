#include "greetingprobe.h"

#include "mailsocket.h"

#include <string>

namespace
{

constexpr std::chrono::milliseconds kSlice{100};
constexpr size_t kMaxLine = 1024;

// One reply line within kTimeout, read in short slices so that `cancel` is seen quickly.
bool ReadLine(MailSocket& socket, const std::atomic<bool>& cancel, std::string* line)
{
    line->clear();
    auto left = GreetingProbe::kTimeout;
    while (left.count() > 0 && !cancel) {
        // One byte at a time: nothing after the line may be taken from the socket (before
        // STARTTLS that would be read as plain text the handshake never sees).
        char c = 0;
        const Transport::RecvResult r = socket.Receive(&c, 1, kSlice);
        if (r.status == Transport::RecvStatus::TimedOut) {
            left -= kSlice;
            continue;
        }
        if (r.status != Transport::RecvStatus::Data)
            return false;
        if (c == '\n')
            return true;
        if (line->size() >= kMaxLine)
            return false;
        *line += c;
    }
    return false;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

bool GreetingProbe::Answers(const DiscoveredServer& server, const std::atomic<bool>& cancel)
{
    if (cancel)
        return false;
    const bool imap = server.kind == "IMAP4";
    MailSocket socket;
    const auto mode =
        server.security == "TLS" ? MailSocket::Security::ImplicitTls : MailSocket::Security::Plain;
    if (!socket.Connect(server.host, server.port, kTimeout, mode))
        return false;
    std::string line;
    if (!ReadLine(socket, cancel, &line) || !StartsWith(line, imap ? "* OK" : "+OK"))
        return false;
    if (server.security == "STARTTLS") {
        if (!socket.Send(imap ? "P1 STARTTLS\r\n" : "STLS\r\n") ||
            !ReadLine(socket, cancel, &line) || !StartsWith(line, imap ? "P1 OK" : "+OK") ||
            !socket.StartTls())
            return false;
    }
    socket.Send(imap ? "P2 LOGOUT\r\n" : "QUIT\r\n");
    socket.Close();
    return true;
}
