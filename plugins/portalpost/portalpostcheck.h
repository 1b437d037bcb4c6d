#pragma once

#include "postwatch_plugin.h"

#include <cstdint>
#include <string>

// One web-mail check, as CheckPortalpostMsg runs it: picks the client for the category
// ("Yahoo" the page-reading client, "Hotmail" the HTTPMail client; compared exactly, "Yahoo"
// first), runs it and answers a PW_WEBMAIL_* code, with the client's words for any other code
// than PW_WEBMAIL_SUCCESS in `failure` (as the client put them: CheckPortalpostMsg bounds them
// and makes them printable). Any other category answers PW_WEBMAIL_SUCCESS with *newCount 0.
struct PortalpostCheckArgs {
    const PwSink* sink = nullptr;
    std::string category;
    std::string account;
    std::string userName;
    std::string password;
    int timeOutSeconds = 0;
};

int RunPortalpostCheck(const PortalpostCheckArgs& args, int32_t& newCount, std::string& failure);

// The categories in the library's order.
inline constexpr const char* kPortalpostCategories[] = {"Yahoo", "Hotmail"};
