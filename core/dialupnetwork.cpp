#include "dialupnetwork.h"

#include "enginesink.h"
#include "regsettings.h"

CDialupNetwork::CDialupNetwork(std::shared_ptr<CEngineSink> sink,
                               NetworkManagerClient::Options options)
    : backend_(std::move(options)), link_(backend_, [sink](const std::string& text) {
          // The record of a text to show: result 1, count 0, the text in the third field.
          if (sink)
              sink->SendText({1, 0, text});
      })
{
}

int CDialupNetwork::EnsureNetwork(int64_t& connection)
{
    connection = 0;
    CRegSettings settings;
    // Unreadable settings read as empty values: then only the system's test decides.
    settings.LoadNetwork();
    DialupLink::Settings s;
    s.useConnection = settings.network.useConnection;
    s.dialupEntry = settings.network.dialupEntry;
    s.autoHangupAfterCheck = settings.network.autoHangupAfterCheck;
    s.useExistDialup = settings.network.useExistDialup;
    return link_.EnsureNetwork(s, &connection);
}

void CDialupNetwork::HangUp(int64_t connection)
{
    link_.HangUp(connection);
}
