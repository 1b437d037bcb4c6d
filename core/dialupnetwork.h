#pragma once

#include "dialuplink.h"
#include "networkaccess.h"
#include "networkmanagerclient.h"

#include <memory>

class CEngineSink;

// The worker's network test over the platform's dial-up layer: reads the Network settings
// afresh for every test (a change in the settings dialog counts at once), asks NetworkManager
// (or the kernel's route tables when there is none), dials when the settings say so, and
// sends a dialling failure's text to the front as a text to show (kind 6).
//
// Threads: EnsureNetwork and HangUp on the worker thread only (the backend is used by one
// thread). `sink` must outlive this object; it is held by a shared pointer for that reason.
class CDialupNetwork final : public NetworkAccess
{
public:
    explicit CDialupNetwork(std::shared_ptr<CEngineSink> sink,
                            NetworkManagerClient::Options options = {});

    int EnsureNetwork(int64_t& connection) override;
    void HangUp(int64_t connection) override;

private:
    NetworkManagerClient backend_;
    DialupLink link_;
};
