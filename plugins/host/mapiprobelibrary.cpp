#include "mapiprobelibrary.h"

#include "enginesink.h"
#include "pluginsink.h"

MapiprobeLibrary::MapiprobeLibrary(std::shared_ptr<CEngineSink> watchSink,
                                   MapiprobeFunctions functions)
    : functions_(functions), watchSink_(std::move(watchSink)),
      bridge_(std::make_unique<PluginSink>(nullptr))
{
}

MapiprobeLibrary::~MapiprobeLibrary()
{
    LogoffIfLoggedOn();
}

int MapiprobeLibrary::LogonExchange(CEngineSink& sink, const std::string& profile,
                                    const std::string& account, int logonDialog, int32_t& newCount,
                                    uint32_t bodyLimit)
{
    std::lock_guard<std::mutex> logon(logonLock_);
    bridge_->Retarget(&sink);
    int32_t count = newCount;
    const int32_t result = functions_.logon(bridge_->Sink(), profile.c_str(), account.c_str(),
                                            logonDialog, &count, bodyLimit);
    newCount = count < 0 ? 0 : count;

    std::lock_guard<std::mutex> guard(lock_);
    // 1 starts the watch; 4 says an earlier one still runs.
    if (result == PW_LOGON_DONE || result == PW_LOGON_ALREADY)
        loggedOn_ = true;
    // `sink` belongs to this check and ends with it; the watch outlives the check.
    bridge_->Retarget(loggedOn_ ? watchSink_.get() : nullptr);
    return result;
}

void MapiprobeLibrary::Logoff()
{
    functions_.logoff(bridge_->Sink());
    std::lock_guard<std::mutex> guard(lock_);
    loggedOn_ = false;
    bridge_->Retarget(nullptr);
}

bool MapiprobeLibrary::LogoffIfLoggedOn()
{
    if (!LoggedOn())
        return false;
    Logoff();
    return true;
}

bool MapiprobeLibrary::LoggedOn() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return loggedOn_;
}
