// The MIDs/MIDS file as hostile input. The reader never fails on content and never trusts a
// count; fed a byte at a time (every prefix of the file) it finds a prefix of what it finds
// in the whole file. Opening the file gives the parsed identifiers (the tail cut), and an
// append, its take-back and a group commit after any content leave exactly the identifiers
// expected.
#include "midsfile.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

bool IsPrefix(const std::vector<std::string>& part, const std::vector<std::string>& whole)
{
    if (part.size() > whole.size())
        return false;
    for (size_t i = 0; i < part.size(); ++i)
        if (part[i] != whole[i])
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const struct Folder {
        std::string path;
        Folder()
        {
            std::string t = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
            t += "/pw-fuzz-mids-XXXXXX";
            if (!::mkdtemp(t.data()))
                std::abort();
            path = t;
        }
        ~Folder() { ::rmdir(path.c_str()); }
    } folder;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> expected;
    const size_t end = CMidsFile::Parse(bytes, expected);
    if (end > size && size >= 4)
        std::abort();
    for (const std::string& id : expected)
        if (id.empty() || id.size() > CMidsFile::kMaxIdentifierLength)
            std::abort();

    // A byte at a time: what a reader sees of a file still being written.
    if (size <= 2048) {
        std::vector<std::string> part;
        for (size_t n = 0; n <= size; ++n) {
            const size_t partEnd = CMidsFile::Parse(std::string_view(bytes).substr(0, n), part);
            if (!IsPrefix(part, expected) || (n >= 4 && partEnd > n))
                std::abort();
        }
    }

    const std::string path = folder.path + "/MIDs";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || (size && ::write(fd, data, size) != static_cast<ssize_t>(size)))
        std::abort();
    ::close(fd);
    {
        CMidsFile mids;
        if (mids.Open(path, std::chrono::milliseconds(0)) != CMidsFile::OpenResult::kOpen)
            std::abort();
        if (mids.Identifiers() != expected)
            std::abort();
        for (const std::string& id : expected)
            if (!mids.Contains(id))
                std::abort();
        if (mids.Contains("") || !mids.Append("fresh-id") || !mids.RemoveLast("fresh-id") ||
            !mids.Append("kept-id") || !mids.AppendUnflushed("group-id"))
            std::abort();
    } // Close flushes the group
    expected.push_back("kept-id");
    expected.push_back("group-id");
    CMidsFile again;
    if (again.Open(path, std::chrono::milliseconds(0)) != CMidsFile::OpenResult::kOpen ||
        again.Identifiers() != expected)
        std::abort();
    again.Close();
    ::unlink(path.c_str());
    return 0;
}
