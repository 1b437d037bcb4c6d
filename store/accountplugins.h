#pragma once

#include <string>
#include <vector>

// What the account table asks the two plug-ins when an account enters it: is an Exchange
// provider installed and which profiles does it offer, and which web-mail categories
// does the web-mail plug-in know. The application installs an implementation that calls
// the plug-ins; until then (and in tests) the default answers "no provider, no profiles"
// and the categories "Yahoo" and "Hotmail".
//
// Called under the account table's lock, from the thread that enters the account; an
// implementation must not call back into the account table.
class AccountPlugins
{
public:
    virtual ~AccountPlugins() = default;
    // 1 when an Exchange provider is installed.
    virtual int MapiPresent() const { return 0; }
    // The provider's profile names, in its order.
    virtual std::vector<std::string> Profiles() const { return {}; }
    // The web-mail categories, in the plug-in's order.
    virtual std::vector<std::string> PortalpostCategories() const { return {"Yahoo", "Hotmail"}; }
};
