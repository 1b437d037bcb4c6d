// Message.box as hostile input: open (validate and mend), walk, read every field, mark,
// remove and add. Whatever the bytes, a store that opened must reopen clean afterwards.
#include "mailboxfile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace
{

// One folder per run, removed at exit.
struct Folder {
    std::string path;
    Folder()
    {
        std::string t = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        t += "/pw-fuzz-mailbox-XXXXXX";
        if (!::mkdtemp(t.data()))
            std::abort();
        path = t;
    }
    ~Folder() { ::rmdir(path.c_str()); }
};

void WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        std::abort();
    if (size && ::write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Folder folder;
    const std::string path = folder.path + "/Message.box";
    WriteFile(path, data, size);
    CMailBoxFile box;
    if (box.Open(path)) {
        std::string first;
        box.Rewind();
        while (box.Next()) {
            StoredMessage m;
            if (!box.ReadCurrent(m, true, true))
                std::abort();
            if (first.empty())
                first = m.messageId;
        }
        box.SetRead(first, "Yes");
        box.Delete(first);
        StoredMessage added;
        added.messageId = "00000000-0000-4000-8000-000000000000";
        added.mailType = "POP3";
        added.read = "No";
        added.preview = "preview";
        if (!box.Append(added))
            std::abort();
        const uint32_t count = box.Count();
        box.Close();
        if (!box.Open(path) || !box.LastRepair().empty() || box.Count() != count)
            std::abort();
    }
    ::unlink(path.c_str());
    return 0;
}
