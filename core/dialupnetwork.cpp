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
    // The link compares the stored forms; hand it the values as every other reader of the
    // settings sees them.
    const CRegSettings::Network& n = settings.network;
    DialupLink::Settings s;
    s.useConnection = std::to_string(n.useConnection.Get());
    s.dialupEntry = n.dialupEntry.Get();
    s.autoHangupAfterCheck = n.autoHangupAfterCheck.Get() ? "1" : "0";
    s.useExistDialup = n.useExistDialup.Get() ? "1" : "0";
    return link_.EnsureNetwork(s, &connection);
}

void CDialupNetwork::HangUp(int64_t connection)
{
    link_.HangUp(connection);
}
