#include "deletingrules.h"

#include "filterrules.h"
#include "registrykey.h"

#include <string>
#include <vector>

bool AnyRuleDeletesOnServer()
{
    CRegistryKey manager;
    if (!manager.Open(RegistryRoot::CurrentUser, FilterManagerPath()))
        return false; // no rules at all
    std::vector<std::string> names;
    if (!manager.EnumSubKeys(names))
        return true;
    for (const std::string& name : names) {
        FilterRule rule;
        // A rule that cannot be loaded now may be readable when its verdict is asked for.
        if (LoadRule(name, rule) != 1 || rule.deleteInServer == "1")
            return true;
    }
    return false;
}
