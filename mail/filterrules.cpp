#include "filterrules.h"

#include "casefold.h"
#include "registrykey.h"
#include "resourcelibrary.h"

#include <vector>

namespace
{

// Values longer than this are treated as unreadable rather than silently cut, so a rule is
// never evaluated against part of its text.
constexpr size_t kMaxValue = 64 * 1024;

bool ReadValue(CRegistryKey& key, const std::string& name, std::string& value)
{
    if (!key.ReadString(name, value, kMaxValue + 1))
        return false;
    return value.size() < kMaxValue;
}

std::string ResourceOr(unsigned id, const char* fallback)
{
    std::string text = LoadResourceString(id);
    return text.empty() ? std::string(fallback) : text;
}

bool ValidName(const std::string& name)
{
    return !name.empty() && name.find('\\') == std::string::npos;
}

} // namespace

FilterKeywords FilterKeywords::Load()
{
    return {LoadResourceString(61372), LoadResourceString(61373), LoadResourceString(61374),
            LoadResourceString(61375)};
}

bool FilterKeywords::Usable() const
{
    return !sender.empty() && !subject.empty() && !contains.empty() && !is.empty() &&
           sender != subject && contains != is;
}

std::string FilterManagerPath()
{
    return "Software\\" + ResourceOr(32899, "Koravel") + "\\" + ResourceOr(32900, "Pigeonpost") +
           "\\Filter Manager";
}

bool RuleApplies(std::string_view condition, std::string_view context, std::string_view fieldText,
                 const FilterKeywords& keywords)
{
    if (!keywords.Usable())
        return false;
    if (condition == keywords.contains)
        return CaseFold::Contains(fieldText, context);
    if (condition == keywords.is)
        return CaseFold::Equal(fieldText, context);
    return false;
}

int MatchRule(const std::string& fieldText, CRegistryKey& ruleKey, const FilterKeywords& keywords,
              int& result)
{
    std::string condition, context, flag;
    if (!ReadValue(ruleKey, "Condition", condition))
        return 0;
    if (condition != keywords.contains && condition != keywords.is)
        return 0;
    if (!ReadValue(ruleKey, "Context", context))
        return 0;
    if (!RuleApplies(condition, context, fieldText, keywords))
        return 0;
    if (!ReadValue(ruleKey, "CheckDeleteInServer", flag))
        return 0;
    if (flag == "1")
        result = kFilterDelete;
    else if (flag == "0")
        result = kFilterHide;
    else
        result = kFilterKeep;
    return 1;
}

int EvaluateFilters(const std::string& subject, const std::string& sender)
{
    return EvaluateFilters(subject, sender, FilterKeywords::Load(), FilterManagerPath());
}

int EvaluateFilters(const std::string& subject, const std::string& sender,
                    const FilterKeywords& keywords, const std::string& keyPath)
{
    if (!keywords.Usable())
        return kFilterKeep;
    CRegistryKey manager;
    if (!manager.Open(RegistryRoot::CurrentUser, keyPath))
        return kFilterKeep;
    std::vector<std::string> names;
    if (!manager.EnumSubKeys(names))
        return kFilterKeep;
    for (const std::string& name : names) {
        // A rule that cannot be opened or read (removed meanwhile, or damaged) is skipped:
        // it can neither delete nor hide anything.
        if (!ValidName(name))
            continue;
        CRegistryKey rule;
        if (!rule.Open(RegistryRoot::CurrentUser, keyPath + "\\" + name))
            continue;
        std::string position;
        if (!ReadValue(rule, "Position", position))
            continue;
        const std::string* field = nullptr;
        if (position == keywords.subject)
            field = &subject;
        else if (position == keywords.sender)
            field = &sender;
        else
            continue;
        int result = kFilterKeep;
        if (MatchRule(*field, rule, keywords, result))
            return result;
    }
    return kFilterKeep;
}

int LoadRule(const std::string& name, FilterRule& rule)
{
    if (!ValidName(name))
        return 0;
    CRegistryKey key;
    if (!key.Open(RegistryRoot::CurrentUser, FilterManagerPath() + "\\" + name))
        return 0;
    FilterRule loaded;
    loaded.name = name;
    // A value that is missing reads as empty, as the dialog shows it.
    ReadValue(key, "Position", loaded.position);
    ReadValue(key, "Condition", loaded.condition);
    ReadValue(key, "Context", loaded.context);
    ReadValue(key, "CheckDeleteInServer", loaded.deleteInServer);
    rule = std::move(loaded);
    return 1;
}

int SaveRule(const FilterRule& rule)
{
    if (!ValidName(rule.name))
        return 0;
    const std::string path = FilterManagerPath() + "\\" + rule.name;
    CRegistryKey key;
    if (!key.CreateKey(RegistryRoot::CurrentUser, path))
        return 0;
    if (!key.IsOpen() && !key.Open(RegistryRoot::CurrentUser, path))
        return 0;
    return key.WriteString("Position", rule.position) &&
                   key.WriteString("Condition", rule.condition) &&
                   key.WriteString("Context", rule.context) &&
                   key.WriteString("CheckDeleteInServer", rule.deleteInServer)
               ? 1
               : 0;
}

int DeleteRule(const std::string& name)
{
    if (!ValidName(name))
        return 0;
    CRegistryKey key;
    return key.DeleteKey(RegistryRoot::CurrentUser, FilterManagerPath() + "\\" + name);
}
