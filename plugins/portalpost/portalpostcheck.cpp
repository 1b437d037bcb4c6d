#include "portalpostcheck.h"

int RunPortalpostCheck(const PortalpostCheckArgs& args, int32_t& newCount)
{
    newCount = 0;
    (void)args;
    return PW_WEBMAIL_SUCCESS;
}
