// A damaged Message.box as hostile input to the repair: whatever the bytes, the repair
// ends, and afterwards the store opens clean with the records the repair says it kept,
// each of them readable, with no MessageId twice.
#include "mailboxfile.h"
#include "mailboxrepair.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

namespace
{

struct Folder {
    std::string path;
    Folder()
    {
        std::string t = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        t += "/pw-fuzz-repair-XXXXXX";
        if (!::mkdtemp(t.data()))
            std::abort();
        path = t;
    }
    ~Folder() { std::filesystem::remove_all(path); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Folder folder;
    const std::string path = folder.path + "/Message.box";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || (size && ::write(fd, data, size) != static_cast<ssize_t>(size)))
        std::abort();
    ::close(fd);
    const CMailBoxRepair::Result r = CMailBoxRepair::Repair(path, 0);
    if (r.outcome == CMailBoxRepair::Outcome::Failed)
        std::abort(); // a readable file in a writable folder can always be rebuilt
    CMailBoxFile box;
    if (!box.Open(path) || box.Count() != r.kept)
        std::abort();
    std::set<std::string> ids;
    StoredMessage m;
    while (box.Next()) {
        if (!box.ReadCurrent(m, true, true))
            std::abort();
        if (r.outcome == CMailBoxRepair::Outcome::Rebuilt && !ids.insert(m.messageId).second)
            std::abort();
    }
    box.Close();
    for (const auto& e : std::filesystem::directory_iterator(folder.path))
        std::filesystem::remove(e.path());
    return 0;
}
