#include "portalpostcheck.h"

#include "yahoowebclient.h"

int RunPortalpostCheck(const PortalpostCheckArgs& args, int32_t& newCount)
{
    newCount = 0;
    if (args.category == "Yahoo") {
        YahooWebClient client(*args.sink, args.account, args.userName, args.password,
                              args.timeOutSeconds, ReadYahooEndpoints());
        return client.Check(newCount);
    }
    return PW_WEBMAIL_SUCCESS;
}
