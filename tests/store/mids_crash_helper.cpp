// Crash-test helper: appends identifiers to a MIDs file while a test kills it.
//
//   mids_crash_helper <MIDs> <count> <arm-after> <step>
//       Opens the file, prints "start <n>" (its record count), then for i in 0..count-1
//       appends "id<n+i>" and prints "ack <n+i>" once Append has returned. Before the
//       identifier number arm-after it arms the crash point `step` (never when negative).
//
// Exit codes: 0 done, 2 the file did not open, 3 an append failed.
#include "midsfile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 5)
        return 1;
    const long count = std::atol(argv[2]), armAfter = std::atol(argv[3]);
    CMidsFile mids;
    std::string error;
    if (mids.Open(argv[1], std::chrono::milliseconds(2000), &error) !=
        CMidsFile::OpenResult::kOpen) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const size_t start = mids.Count();
    std::printf("start %zu\n", start);
    std::fflush(stdout);
    for (long i = 0; i < count; ++i) {
        if (i == armAfter)
            ::setenv("POSTWATCH_CRASH_AT", argv[4], 1);
        const size_t n = start + static_cast<size_t>(i);
        if (!mids.Append("id" + std::to_string(n), &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 3;
        }
        std::printf("ack %zu\n", n);
        std::fflush(stdout);
    }
    return 0;
}
