#pragma once

#include "filterrule.h"

#include <string>
#include <string_view>

class CRegistryKey;

// The user's filter rules: what to do with a new message, by its decoded subject and sender.
//
// Rules live in the settings store under "Software\\<company>\\<application>\\Filter Manager",
// one sub-key per rule, visited in the store's sub-key order (case-insensitive alphabetical);
// the first rule that applies decides. "Position" and "Condition" hold the display texts of
// resource strings 61372..61375 and are compared with them byte for byte at evaluation time,
// so a rule written in another language is skipped.
//
// Every failure ends in keep: a missing key, a rule that cannot be opened or read, missing
// resource texts. Evaluation only reads the store and keeps no state, so check threads may
// evaluate at once; the dialog's writes are seen by evaluations that start after them.

// Filter verdicts.
enum FilterVerdict : int { kFilterKeep = 0, kFilterDelete = 1, kFilterHide = 2 };

// The four display texts of the rule choices.
struct FilterKeywords {
    std::string sender;   // 61372
    std::string subject;  // 61373
    std::string contains; // 61374
    std::string is;       // 61375

    // Loaded from the resource bundle now (it may change between calls).
    static FilterKeywords Load();
    // All four present and distinct where they must be told apart.
    bool Usable() const;
};

// "Software\\<company>\\<application>\\Filter Manager" from resource strings 32899 and 32900,
// "Koravel" and "Pigeonpost" when the bundle has none.
std::string FilterManagerPath();

// The verdict for one new message: kFilterKeep, kFilterDelete or kFilterHide.
int EvaluateFilters(const std::string& subject, const std::string& sender);
// The same over explicit keywords and key path (the plug-ins and tests).
int EvaluateFilters(const std::string& subject, const std::string& sender,
                    const FilterKeywords& keywords, const std::string& keyPath);

// Runs the rule of the open `ruleKey` on `fieldText`. Returns 1 when the rule applies (it
// decides: `result` is 1 for "CheckDeleteInServer" "1", 2 for "0", and 0 for anything else),
// 0 when it does not apply or a value cannot be read (`result` untouched).
int MatchRule(const std::string& fieldText, CRegistryKey& ruleKey, const FilterKeywords& keywords,
              int& result);

// The test itself: does a rule with this condition text and context apply to `fieldText`?
// "contains" and "is" compare by full Unicode case folding; an empty context is contained in
// every text. An unknown condition never applies.
bool RuleApplies(std::string_view condition, std::string_view context, std::string_view fieldText,
                 const FilterKeywords& keywords);

// The dialog's operations. Each returns 1 on success, 0 on failure (no key, a name that is
// empty or holds a backslash, which no key name may).
int LoadRule(const std::string& name, FilterRule& rule);
int SaveRule(const FilterRule& rule);
int DeleteRule(const std::string& name);
