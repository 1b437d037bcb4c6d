#pragma once

#include "exchangeplugin.h"
#include "pluginfunctions.h"

#include <memory>
#include <mutex>

class PluginSink;

// The engine's Exchange log-on over libmapiprobe, and the log-off the front asks for.
//
// The library is handed one PluginSink, which lives as long as this object, since the
// library's watch thread reports through it after the log-on (new messages, each followed
// by a summary with count 1) and may keep it until log-off. During a LogonExchange call it
// reports to the sink the check passed (the log-on scan); afterwards to `watchSink`, the
// program's own sink, while logged on, and to nothing otherwise.
//
// Logoff() calls LogoffExchange (which, when not logged on, tells the user so through a
// message box); after it returns nothing is reported any more.
// LogoffIfLoggedOn() does so only after a successful log-on (results 1 and 4) that no
// log-off has ended, and says whether it did: the exit paths use it. The destructor runs it.
//
// LogoffExchange waits for a notification being reported: the caller must not be the
// thread that handles `watchSink`'s calls (the desktop logs off from a helper thread while
// its user-interface thread goes on handling them).
//
// Threads: LogonExchange on a check thread, Logoff from any thread other than the one
// that handles `watchSink`.
class MapiprobeLibrary final : public ExchangePlugin
{
public:
    explicit MapiprobeLibrary(std::shared_ptr<CEngineSink> watchSink,
                              MapiprobeFunctions functions = MapiprobeFunctions::Linked());
    ~MapiprobeLibrary() override;
    MapiprobeLibrary(const MapiprobeLibrary&) = delete;
    MapiprobeLibrary& operator=(const MapiprobeLibrary&) = delete;

    int LogonExchange(CEngineSink& sink, const std::string& profile, const std::string& account,
                      int logonDialog, int32_t& newCount, uint32_t bodyLimit) override;
    void Logoff();
    bool LogoffIfLoggedOn();
    bool LoggedOn() const;

private:
    MapiprobeFunctions functions_;
    std::shared_ptr<CEngineSink> watchSink_;
    std::unique_ptr<PluginSink> bridge_;
    std::mutex logonLock_; // one log-on call at a time: each points the bridge at its sink
    mutable std::mutex lock_;
    bool loggedOn_ = false;
};
