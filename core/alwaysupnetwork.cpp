#include "alwaysupnetwork.h"

int CAlwaysUpNetwork::EnsureNetwork(int64_t& connection)
{
    connection = 0;
    return 1;
}

void CAlwaysUpNetwork::HangUp(int64_t)
{
}
