#pragma once

#include "pluginfunctions.h"
#include "webmailplugin.h"

// The engine's web-mail check over libportalpost's CheckPortalpostMsg: the records the
// library reports reach `sink` through a PluginSink that lives for the call (the library
// keeps nothing between calls). The result is the library's code (1 time-out, 2 log-in
// refused, 3 other HTTP error, 4 success, 5 other failure); any other value the library
// might answer becomes 5, and a negative count 0. `failure` is what the library passed to
// the sink's failure (see PluginSink) for a failing result, and empty after success.
//
// Threads: called on the check's own thread; checks of different accounts may run at once.
class PortalpostLibrary final : public WebMailPlugin
{
public:
    explicit PortalpostLibrary(PortalpostFunctions functions = PortalpostFunctions::Linked());

    int CheckPortalpostMsg(CEngineSink& sink, const std::string& category,
                           const std::string& account, const std::string& userName,
                           const std::string& password, int32_t& newCount, int timeOutSeconds,
                           std::string& failure) override;

private:
    PortalpostFunctions functions_;
};
