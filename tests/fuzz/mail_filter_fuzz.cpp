// The rule test of the filter evaluation on hostile subjects, senders and rule texts: the input
// is a condition selector byte, then the context and the field text separated by a zero byte.
#include "casefold.h"
#include "filterrules.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const FilterKeywords words{"Sender", "Subject", "contains", "is"};
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t nul = rest.find('\0');
    const std::string context = rest.substr(0, nul);
    const std::string field = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
    const std::string condition = data[0] % 3 == 0   ? words.contains
                                  : data[0] % 3 == 1 ? words.is
                                                     : context;

    const bool applies = RuleApplies(condition, context, field, words);
    // Caseless equality implies containment, and every text contains itself.
    if (CaseFold::Equal(field, context) && !CaseFold::Contains(field, context))
        std::abort();
    if (!CaseFold::Contains(field, field) || !CaseFold::Equal(context, context))
        std::abort();
    if (condition == words.is && applies != CaseFold::Equal(field, context))
        std::abort();
    return 0;
}
