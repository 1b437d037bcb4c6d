// Feeds arbitrary bytes to the Account.cfg reader: no crash, no allocation beyond the
// input, and every slot it returns within the 60-byte limit.
#include "accountlist.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    auto records = CAccountList::Parse(bytes);
    if (records.size() * CAccountList::kRecordSize > size + CAccountList::kRecordSize)
        std::abort();
    for (const auto& r : records)
        if (r.name.size() > CAccountList::kMaxValue ||
            r.accessPassword.size() > CAccountList::kMaxValue ||
            r.passwordCopy.size() > CAccountList::kMaxValue)
            std::abort();
    return 0;
}
