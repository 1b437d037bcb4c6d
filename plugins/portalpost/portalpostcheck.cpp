#include "portalpostcheck.h"

#include "httpmailclient.h"
#include "webmailendpoints.h"
#include "yahoowebclient.h"

int RunPortalpostCheck(const PortalpostCheckArgs& args, int32_t& newCount, std::string& failure)
{
    newCount = 0;
    failure.clear();
    if (!args.sink) {
        failure = "the program passed no sink to report through";
        return PW_WEBMAIL_FAILED;
    }
    int result = PW_WEBMAIL_SUCCESS;
    if (args.category == "Yahoo") {
        YahooWebClient client(*args.sink, args.account, args.userName, args.password,
                              args.timeOutSeconds, ReadYahooEndpoints());
        result = client.Check(newCount);
        failure = client.Error();
    } else if (args.category == "Hotmail") {
        HttpMailClient client(*args.sink, args.account, args.userName, args.password,
                              args.timeOutSeconds, ReadHotmailEndpoints());
        result = client.Check(newCount);
        failure = client.Message();
    }
    if (result == PW_WEBMAIL_SUCCESS)
        failure.clear(); // a step passed over on the way is no reason to show
    return result;
}
