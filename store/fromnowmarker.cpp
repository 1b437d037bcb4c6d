#include "fromnowmarker.h"

#include "apppaths.h"
#include "atomicfilewriter.h"
#include "crashpoint.h"
#include "uidfile.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

bool Fail(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

} // namespace

bool WriteFromNowMarker(const std::string& account, std::string* error)
{
    AtomicFileWriter writer(AppPaths::FromNowFile(account));
    // The words are for whoever looks into the folder; the program reads only the presence.
    if (!writer.Open() ||
        !writer.Write("The next check records the mail on the server as seen.\n") ||
        !writer.Commit())
        return Fail(error, writer.Error());
    return true;
}

bool HasFromNowMarker(const std::string& account)
{
    struct stat st;
    return ::lstat(AppPaths::FromNowFile(account).c_str(), &st) == 0;
}

bool RemoveFromNowMarker(const std::string& account, std::string* error)
{
    const std::string path = AppPaths::FromNowFile(account);
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT)
            return true;
        return Fail(error, "cannot remove " + path + ": " + std::strerror(errno));
    }
    // Undone by a power cut, the marker would make a later check take new mail as seen.
    if (!SyncParentDirectory(path))
        return Fail(error, "cannot flush the folder of " + path + ": " + std::strerror(errno));
    return true;
}

bool RecordExistingUids(const std::string& account, const std::vector<std::string>& existing,
                        std::string* error)
{
    std::string why;
    if (AppendUids(AppPaths::UidFile(account), existing, &why) != 1)
        return Fail(error, "cannot write the list of seen messages: " + why);
    return true;
}

bool SettleFromNowMarker(const std::string& account, const std::vector<std::string>& existing,
                         std::string* error)
{
    if (!RecordExistingUids(account, existing, error))
        return false;
    CrashPoint("fromnow.settle.recorded");
    return RemoveFromNowMarker(account, error);
}
