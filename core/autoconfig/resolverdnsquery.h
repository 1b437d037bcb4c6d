#pragma once

#include "dnsquery.h"

// The system's resolver (libresolv's res_nquery with the name servers of /etc/resolv.conf),
// with its own short bounds: one try per server, kTimeoutSeconds each, so a look-up ends
// within a few seconds even when no name server answers. Answers are capped at 64 KiB (the
// largest DNS message).
//
// Threads: any; each call has its own resolver state.
class ResolverDnsQuery final : public DnsQuery
{
public:
    static constexpr int kTimeoutSeconds = 2;

    bool QuerySrv(const std::string& name, std::vector<unsigned char>* answer) override;
};
