// Crash-test helper: stores or removes messages in a Message.box while a test kills it.
//
//   mailbox_crash_helper append <Message.box> <UID.inf> <count> <arm-after> <step>
//       Opens the store, prints "start <n>" (its record count), then for i in 0..count-1
//       stores CrashMessage(n + i), prints "ack <n+i>" once Append has returned, and adds
//       its identifier to UID.inf. Before the message number arm-after it arms the crash
//       point `step` (or never, when arm-after is negative).
//   mailbox_crash_helper delete <Message.box> <UID.inf> <index> <arm-after> <step>
//       Arms `step`, then removes the record CrashMessage(index); prints "deleted".
//
// Exit codes: 0 done, 2 the store did not open, 3 a store operation failed.
#include "mailbox_crash_helper.h"

#include "crashpoint.h"
#include "mailboxfile.h"
#include "uidfile.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s append|delete box uidinf count arm-after step\n", argv[0]);
        return 1;
    }
    const std::string mode = argv[1];
    const long count = std::atol(argv[4]);
    const long armAfter = std::atol(argv[5]);
    CMailBoxFile box;
    if (!box.Open(argv[2])) {
        std::fprintf(stderr, "%s\n", box.LastError().c_str());
        return 2;
    }
    const unsigned start = box.Count();
    std::printf("start %u\n", start);
    std::fflush(stdout);
    if (mode == "delete") {
        ::setenv("POSTWATCH_CRASH_AT", argv[6], 1);
        if (!box.Delete(CrashMessage(static_cast<unsigned>(count)).messageId))
            return 3;
        std::printf("deleted\n");
        return 0;
    }
    for (long i = 0; i < count; ++i) {
        if (i == armAfter)
            ::setenv("POSTWATCH_CRASH_AT", argv[6], 1);
        const StoredMessage m = CrashMessage(start + static_cast<unsigned>(i));
        if (!box.Append(m)) {
            std::fprintf(stderr, "%s\n", box.LastError().c_str());
            return 3;
        }
        std::printf("ack %lu\n", start + i);
        std::fflush(stdout);
        CrashPoint("merge.between");
        if (!AppendUid(argv[3], m.uid))
            return 3;
    }
    return 0;
}
