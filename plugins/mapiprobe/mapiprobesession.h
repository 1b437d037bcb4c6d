#pragma once

#include "postwatch_plugin.h"

#include <cstdint>
#include <string>
#include <vector>

// The library's one log-on: the scan of every store of a profile, then the watch for new
// mail until log-off. Thread-safe: the check thread logs on, the watch thread reports, the
// UI thread logs off.
class MapiprobeSession
{
public:
    static MapiprobeSession& Instance();

    int Logon(const PwSink& sink, const std::string& profile, const std::string& account,
              int logonDialog, int32_t& newCount, uint32_t bodyLimit);
    void Logoff(const PwSink* sink);
    std::vector<std::string> Profiles() const;
    bool ProviderPresent() const;
};
