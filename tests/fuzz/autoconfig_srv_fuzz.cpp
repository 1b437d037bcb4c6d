// Hostile DNS answers to an SRV query. Besides not crashing or hanging: records come back in
// the order a client tries them, never more than the cap, none with port 0 or the root as
// target, and no target longer than a DNS name can be.
#include "srvanswer.h"

#include <cstdint>
#include <cstdlib>

namespace
{

void Require(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<SrvRecord> records;
    std::string error;
    const bool read = SrvAnswer::Parse(data, size, &records, &error);
    Require(read || (records.empty() && !error.empty()));
    Require(records.size() <= SrvAnswer::kMaxRecords);
    for (size_t i = 0; i < records.size(); ++i) {
        Require(records[i].port != 0 && !records[i].target.empty());
        Require(records[i].target.size() <= 255);
        if (i > 0) {
            const SrvRecord& a = records[i - 1];
            const SrvRecord& b = records[i];
            Require(a.priority < b.priority || (a.priority == b.priority && a.weight >= b.weight));
        }
    }
    return 0;
}
