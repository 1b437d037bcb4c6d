#pragma once

#include <string>
#include <vector>

// Asks the DNS for the SRV records of one name and hands back the raw answer message, which
// SrvAnswer reads. An interface so that tests stand in a stub with the packets they want.
//
// Threads: called on the look-up's worker thread; an implementation must be safe to call
// from several threads at once.
class DnsQuery
{
public:
    virtual ~DnsQuery() = default;

    // True with the answer message (possibly a name error) in *answer; false when no answer
    // came (no name server, time-out).
    virtual bool QuerySrv(const std::string& name, std::vector<unsigned char>* answer) = 0;
};
