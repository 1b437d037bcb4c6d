#pragma once

#include "networkaccess.h"

// The network taken as always available, with no dial-up: what the "use the connection
// always" setting means, and the stand-in until a network layer is installed.
class CAlwaysUpNetwork final : public NetworkAccess
{
public:
    int EnsureNetwork(int64_t& connection) override;
    void HangUp(int64_t connection) override;
};
