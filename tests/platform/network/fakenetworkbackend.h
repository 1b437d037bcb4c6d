#pragma once

#include "networkbackend.h"

#include <string>

// A network whose state the test sets. Every call is written to `log`, one word each:
// "alive", "find", "dial:<entry>", "hangup:<connection>". A successful dial brings up the
// connection "line:<entry>".
class FakeNetworkBackend : public NetworkBackend
{
public:
    uint32_t flags = kAliveLan;
    std::string connectedDialup; // what FindConnectedDialup answers
    DialResult::Status dialStatus = DialResult::Status::Connected;
    std::string log;

    uint32_t AliveFlags() override { return Log("alive"), flags; }
    std::vector<std::string> ListEntries() override { return {}; }
    DialResult Dial(const std::string& entry) override
    {
        Log("dial:" + entry);
        DialResult result{dialStatus, {}, {}};
        if (dialStatus == DialResult::Status::Connected)
            result.connection = "line:" + entry;
        else if (dialStatus == DialResult::Status::Failed)
            result.errorText = "the line is busy";
        return result;
    }
    std::string FindConnectedDialup() override { return Log("find"), connectedDialup; }
    bool HangUp(const std::string& connection) override
    {
        return Log("hangup:" + connection), true;
    }

private:
    void Log(const std::string& word) { log += (log.empty() ? "" : " ") + word; }
};
