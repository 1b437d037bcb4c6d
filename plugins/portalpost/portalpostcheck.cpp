#include "portalpostcheck.h"

#include "httpmailclient.h"
#include "webmailendpoints.h"
#include "yahoowebclient.h"

int RunPortalpostCheck(const PortalpostCheckArgs& args, int32_t& newCount)
{
    newCount = 0;
    if (args.category == "Yahoo") {
        YahooWebClient client(*args.sink, args.account, args.userName, args.password,
                              args.timeOutSeconds, ReadYahooEndpoints());
        return client.Check(newCount);
    } else if (args.category == "Hotmail") {
        if (!args.sink)
            return PW_WEBMAIL_FAILED;
        HttpMailClient client(*args.sink, args.account, args.userName, args.password,
                              args.timeOutSeconds, ReadHotmailEndpoints());
        return client.Check(newCount);
    }
    return PW_WEBMAIL_SUCCESS;
}
