// UID.inf as hostile input: the reader never fails on content, and an append after any
// content (a torn tail included) adds exactly one identifier after those already there.
#include "uidfile.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One folder per run, removed at exit.
    static const struct Folder {
        std::string path;
        Folder()
        {
            std::string t = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
            t += "/pw-fuzz-uidinf-XXXXXX";
            if (!::mkdtemp(t.data()))
                std::abort();
            path = t;
        }
        ~Folder() { ::rmdir(path.c_str()); }
    } folder;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> expected;
    ParseUids(bytes, expected);

    const std::string path = folder.path + "/UID.inf";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || (size && ::write(fd, data, size) != static_cast<ssize_t>(size)))
        std::abort();
    ::close(fd);

    std::vector<std::string> got;
    if (!ReadUids(path, got) || got != expected)
        std::abort();
    if (!AppendUid(path, "new\\one"))
        std::abort();
    expected.push_back("new\\one");
    if (!ReadUids(path, got) || got != expected)
        std::abort();
    ::unlink(path.c_str());
    return 0;
}
