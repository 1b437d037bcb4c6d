// Crash-test helper: appends identifiers to a MIDs file while a test kills it.
//
//   mids_crash_helper <MIDs> <count> <arm-after> <step> [group]
//       Opens the file, prints "start <n>" (its record count), then for i in 0..count-1
//       appends "id<n+i>" and prints "ack <n+i>" once Append has returned. Before the
//       identifier number arm-after it arms the crash point `step` (never when negative).
//       With "group" it appends unflushed and flushes after every tenth (a log-on's scan).
//
// Exit codes: 0 done, 2 the file did not open, 3 an append failed.
#include "midsfile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6)
        return 1;
    const bool group = argc == 6 && std::string(argv[5]) == "group";
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
        const std::string id = "id" + std::to_string(n);
        const bool appended =
            group ? mids.AppendUnflushed(id, &error) && ((i + 1) % 10 != 0 || mids.Flush(&error))
                  : mids.Append(id, &error);
        if (!appended) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 3;
        }
        std::printf("ack %zu\n", n);
        std::fflush(stdout);
    }
    return 0;
}
