#pragma once

#include "checksink.h"

#include <string>
#include <vector>

// A sink that keeps a copy of every delivered record, as the engine's merge would.
class RecordingSink : public CheckSink
{
public:
    struct Delivery {
        int kind;
        MessageRecord record;
    };
    void DeliverMessage(int kind, const MessageRecord& record) override
    {
        deliveries.push_back({kind, record});
    }
    std::vector<std::string> Subjects() const
    {
        std::vector<std::string> out;
        for (const Delivery& d : deliveries)
            out.push_back(d.record.subject);
        return out;
    }
    void ServerState(const std::string&, const std::vector<std::string>& seen,
                     const std::vector<std::string>& gone) override
    {
        for (const std::string& uid : seen)
            serverSeen += uid + " ";
        for (const std::string& uid : gone)
            serverGone += uid + " ";
    }
    std::vector<Delivery> deliveries;
    std::string serverSeen, serverGone; // identifiers, each followed by a blank
};
