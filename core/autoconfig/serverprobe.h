#pragma once

#include "discoveredserver.h"

#include <atomic>

// Tries one guessed server: does a mail server of the right kind answer there with the
// security given? An interface so that tests can point the guesses at a local server.
//
// Threads: called on the look-up's worker thread.
class ServerProbe
{
public:
    virtual ~ServerProbe() = default;

    virtual bool Answers(const DiscoveredServer& server, const std::atomic<bool>& cancel) = 0;
};
