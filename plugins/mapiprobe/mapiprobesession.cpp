#include "mapiprobesession.h"

MapiprobeSession& MapiprobeSession::Instance()
{
    static MapiprobeSession session;
    return session;
}

int MapiprobeSession::Logon(const PwSink&, const std::string&, const std::string&, int,
                            int32_t& newCount, uint32_t)
{
    newCount = 0;
    return PW_LOGON_FAILED;
}

void MapiprobeSession::Logoff(const PwSink*)
{
}

std::vector<std::string> MapiprobeSession::Profiles() const
{
    return {};
}

bool MapiprobeSession::ProviderPresent() const
{
    return false;
}
