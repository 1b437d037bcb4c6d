// Message.box at scale: builds a store of many messages of realistic size, then times
// the operations the program performs on it, and reports peak memory.
//
//   bench_store [messages=100000] [folder=$TMPDIR]
#include "mailboxfile.h"
#include "messageid.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

StoredMessage Realistic(unsigned n)
{
    StoredMessage m;
    m.messageId = MessageId();
    m.mailType = n % 3 ? "POP3" : "IMAP4";
    m.read = "No";
    m.sender = "Ann Example <ann" + std::to_string(n % 1000) + "@example.org>"; // ~30 B
    m.subject =
        "Re: quarterly figures for the northern region, draft " + std::to_string(n); // ~60 B
    m.date = "Mon 07/12/2026 12:34";
    m.size = std::to_string(4000 + n % 50000);
    m.preview.reserve(1024);
    while (m.preview.size() < 1024)
        m.preview += "Hello, please find the figures below and tell me what you think. ";
    m.preview.resize(1024);
    m.attachment = n % 5 ? "No" : "Yes";
    m.uid = "UID" + std::to_string(100000000 + n);
    return m;
}

long PeakKiB()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

int Check(int ok, const CMailBoxFile& box, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "%s failed: %s\n", what, box.LastError().c_str());
        std::exit(1);
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned total = argc > 1 ? static_cast<unsigned>(std::atol(argv[1])) : 100000;
    std::string folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    folder += "/pw-bench-store-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/Message.box";
    const unsigned sample = std::min(1000u, total / 2);

    CMailBoxFile box;
    Check(box.Open(path), box, "open (create)");

    // Durable single appends (record, flush, count, flush), at the start and at the end of
    // the store, show that the cost does not grow with the file; the bulk in between goes
    // in batches of 1000 (one commit each).
    auto t = Clock::now();
    for (unsigned i = 0; i < sample; ++i)
        Check(box.Append(Realistic(i)), box, "append");
    const double firstAppends = Since(t) / sample;

    t = Clock::now();
    unsigned n = sample;
    while (n < total - sample) {
        std::vector<StoredMessage> batch;
        for (unsigned k = 0; k < 1000 && n < total - sample; ++k)
            batch.push_back(Realistic(n++));
        Check(box.Append(batch), box, "batch append");
    }
    const double bulk = Since(t);

    t = Clock::now();
    for (; n < total; ++n)
        Check(box.Append(Realistic(n)), box, "append");
    const double lastAppends = Since(t) / sample;
    box.Close();
    const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;

    t = Clock::now();
    Check(box.Open(path), box, "open");
    const double open = Since(t);

    t = Clock::now();
    std::string middleId;
    std::unordered_set<std::string> allIds;
    unsigned seen = 0;
    box.Rewind();
    while (box.Next()) {
        StoredMessage m;
        Check(box.ReadCurrent(m, true, false), box, "read");
        if (seen++ == total / 2)
            middleId = m.messageId;
        allIds.insert(m.messageId);
    }
    const double headers = Since(t);

    t = Clock::now();
    box.Rewind();
    while (box.Next()) {
        StoredMessage m;
        Check(box.ReadCurrent(m, true, true), box, "read with preview");
    }
    const double previews = Since(t);

    t = Clock::now();
    Check(box.SetRead(middleId, "Yes"), box, "mark read");
    const double mark = Since(t);

    t = Clock::now();
    Check(box.Delete(middleId), box, "delete");
    const double remove = Since(t);
    allIds.erase(middleId);

    // The header list's "select all, then mark read / remove": one call each.
    t = Clock::now();
    Check(box.SetRead(allIds, "Yes"), box, "mark all read");
    const double markAll = Since(t);
    t = Clock::now();
    Check(box.SetRead(allIds, "No"), box, "mark all unread");
    const double unmarkAll = Since(t);

    // The merge's way: appends without a flush each, one flush for the group.
    t = Clock::now();
    for (unsigned i = 0; i < sample; ++i)
        Check(box.AppendUnflushed(Realistic(total + i)), box, "unflushed append");
    Check(box.Flush(), box, "flush");
    const double grouped = Since(t) / sample;

    const size_t storedNow = box.Count();
    t = Clock::now();
    Check(box.Delete(allIds), box, "delete all");
    const double removeAll = Since(t);

    std::printf("messages stored                 %u (%.1f MB)\n", total, megabytes);
    std::printf("append, one by one, first %u    %.3f ms each\n", sample, firstAppends);
    std::printf("append, batches of 1000         %.0f ms for %u\n", bulk, total - 2 * sample);
    std::printf("append, one by one, last %u     %.3f ms each\n", sample, lastAppends);
    std::printf("open and validate               %.1f ms\n", open);
    std::printf("read all headers (no preview)   %.1f ms (%u records)\n", headers, seen);
    std::printf("read all with preview           %.1f ms\n", previews);
    std::printf("mark one read (middle)          %.1f ms\n", mark);
    std::printf("delete one (middle)             %.1f ms\n", remove);
    std::printf("mark all read, one call         %.1f ms (%zu messages)\n", markAll, allIds.size());
    std::printf("mark all unread, one call       %.1f ms\n", unmarkAll);
    std::printf("append unflushed, one flush     %.3f ms each (%u, then one flush)\n", grouped,
                sample);
    std::printf("delete all but %zu, one call    %.1f ms (%zu left)\n", storedNow - allIds.size(),
                removeAll, static_cast<size_t>(box.Count()));
    std::printf("peak memory (ru_maxrss)         %.1f MB\n", PeakKiB() / 1024.0);
    box.Close();
    std::filesystem::remove_all(folder);
    return 0;
}
