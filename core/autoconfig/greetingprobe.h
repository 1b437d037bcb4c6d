#pragma once

#include "serverprobe.h"

#include <chrono>

// The real probe: connects (TLS from the first byte for "TLS"), reads the greeting and
// checks it is the kind's ("+OK" for POP3, "* OK" for IMAP4); for "STARTTLS" it also asks
// for STLS / STARTTLS and completes the handshake, so a server that offers no TLS on its
// plain port is not proposed with it. Certificates are verified as the checks do. The
// connect, the handshake and each reply are bounded by kTimeout; nothing is sent but the
// upgrade and a polite QUIT / LOGOUT, and no credentials.
class GreetingProbe final : public ServerProbe
{
public:
    static constexpr std::chrono::milliseconds kTimeout{3000};

    bool Answers(const DiscoveredServer& server, const std::atomic<bool>& cancel) override;
};
