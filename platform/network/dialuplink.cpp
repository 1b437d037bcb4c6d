#include "dialuplink.h"

#include <algorithm>
#include <utility>

DialupLink::DialupLink(NetworkBackend& backend, ShowText showText)
    : backend_(backend), showText_(std::move(showText))
{
}

int DialupLink::EnsureNetwork(const Settings& settings, int64_t* connectionHandle)
{
    *connectionHandle = 0;
    if (settings.useConnection == "1")
        return 1;

    const bool dialUp = settings.useConnection == "3";
    const bool hangUpAfter = settings.autoHangupAfterCheck == "1";
    const uint32_t flags = backend_.AliveFlags();
    if (flags != 0) {
        // Only a connection that the user allowed us to adopt *and* to close is handed over;
        // with a LAN up as well the dial-up line is not what the checks depend on.
        if (flags == NetworkBackend::kAliveWan && dialUp && settings.useExistDialup == "1" &&
            hangUpAfter) {
            int64_t found = 0;
            if (FindConnectedDialup(&found))
                *connectionHandle = found;
        }
        return 1;
    }

    if (!dialUp)
        return 0;
    int64_t dialled = 0;
    if (!DialEntry(settings.dialupEntry, &dialled))
        return 0;
    if (hangUpAfter)
        *connectionHandle = dialled;
    else
        Forget(dialled);
    return 1;
}

std::vector<std::string> DialupLink::ListEntries()
{
    return backend_.ListEntries();
}

int DialupLink::DialEntry(const std::string& entry, int64_t* handle)
{
    *handle = 0;
    const NetworkBackend::DialResult result = backend_.Dial(entry);
    switch (result.status) {
    case NetworkBackend::DialResult::Status::Connected:
        if (result.connection.empty())
            return 0;
        *handle = HandleFor(result.connection);
        return 1;
    case NetworkBackend::DialResult::Status::Failed:
        if (showText_)
            showText_(result.errorText);
        return 0;
    case NetworkBackend::DialResult::Status::NoEntry:
        break;
    }
    return 0;
}

int DialupLink::FindConnectedDialup(int64_t* handle)
{
    *handle = 0;
    const std::string connection = backend_.FindConnectedDialup();
    if (connection.empty())
        return 0;
    *handle = HandleFor(connection);
    return 1;
}

void DialupLink::HangUp(int64_t handle)
{
    const std::string connection = ConnectionOf(handle);
    if (connection.empty())
        return;
    backend_.HangUp(connection);
    Forget(handle);
}

std::string DialupLink::ConnectionOf(int64_t handle) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = connections_.find(handle);
    return it == connections_.end() ? std::string() : it->second;
}

bool DialupLink::MayHangUp(int64_t handle, std::span<const int64_t> otherRowHandles,
                           bool anyRequested, bool anyBusy)
{
    return handle != 0 && !anyRequested && !anyBusy &&
           std::find(otherRowHandles.begin(), otherRowHandles.end(), handle) ==
               otherRowHandles.end();
}

int64_t DialupLink::HandleFor(const std::string& connection)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [handle, known] : connections_) {
        if (known == connection)
            return handle;
    }
    const int64_t handle = nextHandle_++;
    connections_.emplace(handle, connection);
    return handle;
}

void DialupLink::Forget(int64_t handle)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(handle);
}
