#include "accountlistrepair.h"

#include "accountfile.h"
#include "accountfileproblem.h"
#include "accountlist.h"
#include "accountnames.h"
#include "accountrecord.h"
#include "apppaths.h"
#include "atomicfilewriter.h"
#include "damagedcopy.h"
#include "littleendian.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sys/file.h>
#include <unistd.h>

namespace
{

std::string Join(const std::vector<std::string>& names)
{
    std::string out;
    for (const std::string& n : names)
        out += (out.empty() ? "" : ", ") + n;
    return out;
}

// Closes the descriptor (and drops its flock) on every way out.
struct Fd {
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool ReadAll(const std::string& path, std::string& bytes)
{
    Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0)
        return false;
    bytes.clear();
    char buf[65536];
    for (;;) {
        const ssize_t r = ::read(f.fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return false;
        if (r == 0)
            return true;
        bytes.append(buf, static_cast<size_t>(r));
    }
}

// What is wrong with the list file's bytes, or empty.
std::string FileDamage(const std::string& bytes, const std::vector<AccountListRecord>& parsed)
{
    if (bytes.size() < CAccountList::kHeaderSize)
        return "it is " + std::to_string(bytes.size()) + " bytes long, shorter than its header";
    const uint32_t stated = LoadLe32(bytes.data() + CAccountList::kCountOffset);
    size_t named = 0;
    for (const AccountListRecord& r : parsed)
        named += r.name.empty() ? 0 : 1;
    if (bytes.size() < CAccountList::kHeaderSize + CAccountList::kRecordSize * size_t(stated))
        return "it was cut short: it counts " + std::to_string(stated) +
               " accounts but holds fewer";
    if (named != stated)
        return std::to_string(stated - std::min<size_t>(named, stated)) +
               " of its accounts have no name";
    // Bytes after the last counted record are an append that was killed before its
    // commit: the list's own writer cuts them, nothing is lost.
    return {};
}

} // namespace

std::string AccountListRepair::Damage()
{
    const std::string path = AppPaths::AccountListFile();
    std::string bytes;
    if (!std::filesystem::exists(path))
        return {};
    if (!ReadAll(path, bytes))
        return "cannot read " + path + ": " + std::strerror(errno);
    const std::string damage = FileDamage(bytes, CAccountList::Parse(bytes));
    return damage.empty() ? damage : path + " is damaged: " + damage;
}

std::string AccountListRepair::Result::Describe() const
{
    const std::string list = AppPaths::AccountListFile();
    switch (outcome) {
    case Outcome::NothingToDo:
        return list + " is not damaged; nothing was changed";
    case Outcome::Failed:
        return "cannot repair " + list + ": " + error;
    case Outcome::Rebuilt:
        break;
    }
    std::string text =
        list + " was rebuilt with " + std::to_string(kept.size() + restored.size()) + " accounts";
    if (!restored.empty())
        text += "; listed again: " + Join(restored);
    if (!accessCleared.empty())
        text += "; no access password could be recovered for " + Join(accessCleared) +
                " (set one again in the account's properties if it had one)";
    if (!noPasswordCopy.empty())
        text += "; the mail password of " + Join(noPasswordCopy) +
                " is too long for the list: enter it again in the account's properties";
    if (!damagedCopy.empty())
        text += "; the damaged file is kept as " + damagedCopy;
    return text;
}

AccountListRepair::Result AccountListRepair::Repair(std::time_t now)
{
    Result result;
    const std::string path = AppPaths::AccountListFile();
    Fd guard{::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
    if (guard.fd < 0 || ::flock(guard.fd, LOCK_EX) != 0) {
        result.error = std::string("cannot lock the account list: ") + std::strerror(errno);
        return result;
    }

    std::string bytes;
    const bool exists = std::filesystem::exists(path);
    if (exists && !ReadAll(path, bytes)) {
        result.error = std::string("cannot read it: ") + std::strerror(errno);
        return result;
    }

    // What the folders say exists.
    std::map<std::string, AccountRecord> folders;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(AppPaths::MailDir(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!it->is_directory(ec) || !AccountNames::IsSafeFolderName(name) ||
            name.size() > CAccountList::kMaxValue || !AccountFileProblem(name).empty())
            continue;
        AccountRecord record;
        record.name = name;
        if (CAccountFile::ReadAccountFile(AppPaths::AccountFile(name), record) == 1)
            folders.emplace(name, record);
    }

    const std::vector<AccountListRecord> parsed = CAccountList::Parse(bytes);
    std::set<std::string> listed;
    for (const AccountListRecord& r : parsed)
        if (!r.name.empty())
            listed.insert(r.name);
    bool damaged = exists && !FileDamage(bytes, parsed).empty();
    for (const auto& [name, record] : folders)
        damaged = damaged || !listed.count(name);
    if (!damaged) {
        result.outcome = Outcome::NothingToDo;
        return result;
    }

    // The new list, written beside the old one under another name first.
    const std::string temp = path + ".rebuilt";
    std::filesystem::remove(temp, ec);
    std::filesystem::remove(temp + ".lock", ec);
    {
        CAccountList fresh(temp);
        std::set<std::string> done;
        for (const AccountListRecord& r : parsed) {
            if (r.name.empty() || !folders.count(r.name) || !done.insert(r.name).second)
                continue;
            // A record cut short lost its password copy (and perhaps its access password):
            // it is made anew from its folder like a missing one.
            // An OAuth 2.0 account keeps an empty copy (its password slot is a refresh token).
            const AccountRecord& folder = folders.at(r.name);
            const std::string password = UsesOAuthSignIn(folder) ? std::string() : folder.password;
            const bool whole = r.passwordCopy == password;
            const bool fits = password.size() <= CAccountList::kMaxValue;
            if (fresh.Append(r.name, r.accessPassword,
                             whole  ? r.passwordCopy
                             : fits ? password
                                    : std::string()) != 1) {
                result.error = fresh.Error();
                std::filesystem::remove(temp, ec);
                return result;
            }
            (whole ? result.kept : result.restored).push_back(r.name);
            if (!whole && r.accessPassword.empty())
                result.accessCleared.push_back(r.name);
            if (!whole && !fits)
                result.noPasswordCopy.push_back(r.name);
        }
        for (const auto& [name, record] : folders) {
            if (done.count(name))
                continue;
            const std::string copy = UsesOAuthSignIn(record) ? std::string() : record.password;
            const bool fits = copy.size() <= CAccountList::kMaxValue;
            if (fresh.Append(name, "", fits ? copy : std::string()) != 1) {
                result.error = fresh.Error();
                std::filesystem::remove(temp, ec);
                return result;
            }
            result.restored.push_back(name);
            result.accessCleared.push_back(name);
            if (!fits)
                result.noPasswordCopy.push_back(name);
        }
    }
    std::filesystem::remove(temp + ".lock", ec);
    if (exists) {
        std::string copy;
        if (!KeepDamagedCopy(path, now, copy, result.error)) {
            std::filesystem::remove(temp, ec);
            return result;
        }
        result.damagedCopy = copy;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0 || !SyncParentDirectory(path)) {
        result.error = std::string("cannot put the rebuilt list in place: ") + std::strerror(errno);
        if (!result.damagedCopy.empty())
            ::unlink(result.damagedCopy.c_str());
        std::filesystem::remove(temp, ec);
        return result;
    }
    result.outcome = Outcome::Rebuilt;
    return result;
}
