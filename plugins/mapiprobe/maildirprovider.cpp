#include "maildirprovider.h"

#include "maildirmessage.h"
#include "maildirname.h"
#include "maildirtree.h"
#include "programkey.h"
#include "registrykey.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace
{

std::string HomeDir()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y))
            return false;
    }
    return true;
}

bool Readable(const std::string& store)
{
    return ::access((store + "/cur").c_str(), R_OK | X_OK) == 0 &&
           ::access((store + "/new").c_str(), R_OK | X_OK) == 0;
}

std::string Errno(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Every store of a profile's roots, each once, in order.
std::vector<std::string> StoresOfRoots(const std::vector<std::string>& roots)
{
    std::vector<std::string> stores;
    for (const std::string& root : roots)
        for (const std::string& store : MaildirTree::StoresOf(root))
            if (std::find(stores.begin(), stores.end(), store) == stores.end())
                stores.push_back(store);
    return stores;
}

bool MakeDir(const std::string& path)
{
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// rename(2) that never replaces a file; link(2) and unlink(2) where the file system lacks it.
int MoveNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (::unlink(from.c_str()) != 0)
        return errno; // both names stand: nothing is lost
    return 0;
}

} // namespace

MaildirProvider::MaildirProvider() : fixed_(false)
{
}

MaildirProvider::MaildirProvider(ProfileList profiles)
    : fixed_(true), fixedProfiles_(std::move(profiles))
{
}

MaildirProvider::~MaildirProvider()
{
    CloseProfile();
}

std::vector<std::string> MaildirProvider::SplitRoots(const std::string& value)
{
    std::vector<std::string> roots;
    size_t from = 0;
    while (from <= value.size()) {
        size_t semi = value.find(';', from);
        if (semi == std::string::npos)
            semi = value.size();
        std::string root = value.substr(from, semi - from);
        while (!root.empty() && (root.front() == ' ' || root.front() == '\t'))
            root.erase(0, 1);
        while (!root.empty() && (root.back() == ' ' || root.back() == '\t'))
            root.pop_back();
        if (root == "~" || root.starts_with("~/"))
            root = HomeDir() + root.substr(1);
        // A relative root would follow whatever folder the program was started in (the
        // autostart entry, a terminal elsewhere): it is taken below the home folder instead.
        else if (!root.empty() && root.front() != '/')
            root = HomeDir() + "/" + root;
        if (!root.empty())
            roots.push_back(root);
        from = semi + 1;
    }
    return roots;
}

MaildirProvider::ProfileList MaildirProvider::ConfiguredProfiles()
{
    ProfileList profiles;
    CRegistryKey key;
    if (key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Mapiprobe\\Profiles"))) {
        std::vector<std::string> names;
        key.EnumValues(names);
        for (const std::string& name : names) {
            std::string value;
            if (key.ReadString(name, value, 64 * 1024))
                profiles.emplace_back(name, SplitRoots(value));
        }
    }
    if (!profiles.empty())
        return profiles;
    std::vector<std::string> candidates;
    if (const char* maildir = std::getenv("MAILDIR"); maildir && *maildir)
        candidates.push_back(maildir);
    const std::string home = HomeDir();
    if (!home.empty()) {
        candidates.push_back(home + "/Maildir");
        candidates.push_back(home + "/.mail");
    }
    for (const std::string& root : candidates)
        if (!MaildirTree::StoresOf(root).empty())
            return {{kDefaultProfile, {root}}};
    return profiles;
}

MaildirProvider::ProfileList MaildirProvider::Current() const
{
    return fixed_ ? fixedProfiles_ : ConfiguredProfiles();
}

bool MaildirProvider::Present()
{
    for (const auto& [name, roots] : Current())
        for (const std::string& store : StoresOfRoots(roots))
            if (Readable(store))
                return true;
    return false;
}

std::vector<std::string> MaildirProvider::Profiles()
{
    std::vector<std::string> names;
    for (const auto& [name, roots] : Current())
        names.push_back(name);
    return names;
}

ProviderStatus MaildirProvider::OpenProfile(const std::string& profile,
                                            std::vector<ProviderStore>& stores, std::string* why)
{
    stores.clear();
    const ProfileList profiles = Current();
    auto it = std::find_if(profiles.begin(), profiles.end(),
                           [&](const auto& p) { return EqualsNoCase(p.first, profile); });
    if (it == profiles.end()) {
        if (why)
            *why = "there is no mail profile named \"" + profile + "\"";
        return ProviderStatus::kLogonFailed;
    }
    const std::vector<std::string> roots = StoresOfRoots(it->second);
    if (roots.empty()) {
        if (why) {
            *why = "no Maildir found for the profile \"" + profile + "\" in";
            for (const std::string& root : it->second)
                *why += " " + root;
        }
        return ProviderStatus::kLogonFailed;
    }
    for (const std::string& root : roots) {
        if (!Readable(root)) {
            if (why)
                *why = Errno("cannot read the Maildir " + root);
            stores.clear();
            return ProviderStatus::kStoreFailed;
        }
        ProviderStore store;
        store.id = root;
        store.displayName = MaildirTree::BaseName(root);
        store.isDefault = stores.empty();
        stores.push_back(std::move(store));
    }
    return ProviderStatus::kOk;
}

bool MaildirProvider::Scan(const std::string& folderPath, FolderIndex& index, std::string* why)
{
    for (const bool inNew : {true, false}) {
        const std::string dir = folderPath + (inNew ? "/new" : "/cur");
        DIR* d = ::opendir(dir.c_str());
        if (!d) {
            if (why)
                *why = Errno("cannot read " + dir);
            return false;
        }
        while (const dirent* e = ::readdir(d)) {
            if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK)
                continue;
            const MaildirName name(e->d_name);
            if (!name.Valid())
                continue;
            // A message in both (a copy a crash left) counts once, where it was seen first.
            index.try_emplace(name.Unique(), Location{inNew, e->d_name});
        }
        ::closedir(d);
    }
    return true;
}

ProviderStatus MaildirProvider::Folders(const ProviderStore& store,
                                        std::vector<ProviderFolder>& folders, std::string* why)
{
    folders.clear();
    if (!MaildirTree::IsMaildir(store.id)) {
        if (why)
            *why = store.id + " is no Maildir";
        return ProviderStatus::kStoreFailed;
    }
    for (const MaildirTree::Folder& folder : MaildirTree::FoldersOf(store.id)) {
        FolderIndex index;
        std::string problem;
        if (!Scan(folder.path, index, &problem)) {
            // An unreadable subfolder is left out; an unreadable store fails.
            if (folder.path == store.id) {
                if (why)
                    *why = problem;
                return ProviderStatus::kStoreFailed;
            }
            continue;
        }
        ProviderFolder out;
        out.id = folder.path;
        out.displayName = folder.displayName;
        std::unordered_set<std::string> unread;
        for (const auto& [unique, where] : index)
            if (MaildirName(where.fileName).Unread(where.inNew))
                unread.insert(unique);
        out.unreadCount = static_cast<uint32_t>(unread.size());
        {
            std::lock_guard lock(mutex_);
            folderNames_[folder.path] = folder.displayName;
            counted_[folder.path] = std::move(unread);
        }
        folders.push_back(std::move(out));
    }
    return ProviderStatus::kOk;
}

ProviderStatus MaildirProvider::Messages(const ProviderFolder& folder,
                                         std::vector<ProviderMessage>& messages, std::string* why)
{
    messages.clear();
    FolderIndex index;
    if (!Scan(folder.id, index, why))
        return ProviderStatus::kStoreFailed;
    // What Folders counted first, then what came since, each oldest first (the file name's
    // stamp): when the folder's budget (its unread count) runs out, what is left is mail that
    // came after the count, which the watch reports. Names alone cannot say that: one second's
    // deliveries have no order among them.
    std::unordered_set<std::string> counted;
    {
        std::lock_guard lock(mutex_);
        if (auto it = counted_.find(folder.id); it != counted_.end())
            counted = it->second;
    }
    std::vector<std::tuple<bool, std::time_t, const std::string*>> order;
    order.reserve(index.size());
    for (const auto& [unique, where] : index)
        order.emplace_back(counted.count(unique) == 0, MaildirName(where.fileName).Stamp(),
                           &unique);
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a), *std::get<2>(a)) <
               std::tie(std::get<0>(b), std::get<1>(b), *std::get<2>(b));
    });
    messages.reserve(index.size());
    for (const auto& [later, stamp, unique] : order) {
        const Location& where = index.at(*unique);
        messages.push_back({*unique, folder.id, !MaildirName(where.fileName).Unread(where.inNew)});
    }
    std::lock_guard lock(mutex_);
    index_[folder.id] = std::move(index);
    return ProviderStatus::kOk;
}

std::string MaildirProvider::FolderName(const std::string& folderId)
{
    {
        std::lock_guard lock(mutex_);
        auto it = folderNames_.find(folderId);
        if (it != folderNames_.end())
            return it->second;
    }
    const std::string display = MaildirTree::DisplayName(MaildirTree::BaseName(folderId));
    return display.empty() ? "Inbox" : display;
}

bool MaildirProvider::Locate(const std::string& folderId, const std::string& entryId,
                             Location& where)
{
    if (!MaildirName::ValidUnique(entryId))
        return false;
    {
        std::lock_guard lock(mutex_);
        auto folder = index_.find(folderId);
        if (folder != index_.end()) {
            auto it = folder->second.find(entryId);
            if (it != folder->second.end()) {
                const std::string path =
                    folderId + (it->second.inNew ? "/new/" : "/cur/") + it->second.fileName;
                struct stat st {
                };
                if (::lstat(path.c_str(), &st) == 0) {
                    where = it->second;
                    return true;
                }
            }
        }
    }
    // Moved or renamed since the folder was listed: list it again.
    FolderIndex fresh;
    if (!Scan(folderId, fresh, nullptr))
        return false;
    auto it = fresh.find(entryId);
    const bool found = it != fresh.end();
    if (found)
        where = it->second;
    std::lock_guard lock(mutex_);
    index_[folderId] = std::move(fresh);
    return found;
}

bool MaildirProvider::Details(const std::string& folderId, const std::string& entryId,
                              uint32_t bodyLimit, ProviderMessageDetails& details)
{
    Location where;
    if (!Locate(folderId, entryId, where))
        return false;
    const MaildirName name(where.fileName);
    const std::string path = folderId + (where.inNew ? "/new/" : "/cur/") + where.fileName;
    // Written in place in new/ and not yet whole: read now it would be reported with a cut
    // header, and then be known. The watch reports it once its writer closes it.
    if (where.inNew && MaildirWatcher::BeingWritten(path))
        return false;
    if (!MaildirMessage::Read(path, name.SizeHint(), bodyLimit, details)) {
        // A client moved it between the look-up and the open: look once more.
        if (!Locate(folderId, entryId, where))
            return false;
        const std::string again = folderId + (where.inNew ? "/new/" : "/cur/") + where.fileName;
        if (!MaildirMessage::Read(again, name.SizeHint(), bodyLimit, details))
            return false;
    }
    if (const std::time_t stamp = name.Stamp())
        details.deliveryTime = stamp;
    return true;
}

bool MaildirProvider::EnsureTrash(const std::string& trash, std::string* why)
{
    for (const char* sub : {"", "/cur", "/new", "/tmp"}) {
        if (!MakeDir(trash + sub)) {
            if (why)
                *why = Errno("cannot make the trash folder " + trash + sub);
            return false;
        }
    }
    // Maildir++ marks a subfolder with an empty "maildirfolder" file.
    const int fd = ::open((trash + "/maildirfolder").c_str(),
                          O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0)
        ::close(fd);
    return true;
}

bool MaildirProvider::Delete(const std::string& storeId, const std::string& folderId,
                             const std::string& entryId, std::string* why)
{
    Location where;
    if (!Locate(folderId, entryId, where)) {
        if (why)
            *why = "the message " + entryId + " is no longer in " + folderId;
        return false;
    }
    const std::string trash = storeId + "/" + kTrashFolder;
    if (!EnsureTrash(trash, why))
        return false;
    const std::string from = folderId + (where.inNew ? "/new/" : "/cur/") + where.fileName;
    const MaildirName name(where.fileName);
    const std::string target = name.WithFlag('T');
    int err = EEXIST;
    for (int n = 0; err == EEXIST && n < 100; ++n) {
        std::string to = trash + "/cur/" + target;
        if (n > 0) {
            // The name is taken in the trash: keep both, this one under a new unique part.
            const MaildirName taken(target);
            to =
                trash + "/cur/" + taken.Unique() + ".t" + std::to_string(n) + ":2," + taken.Flags();
        }
        if (to == from)
            return true; // already in the trash with "T"
        err = MoveNoReplace(from, to);
    }
    if (err) {
        if (why) {
            errno = err;
            *why = Errno("cannot move " + from + " to the trash" +
                         std::string(err == EXDEV ? " (it is on another file system)" : ""));
        }
        return false;
    }
    std::lock_guard lock(mutex_);
    if (auto folder = index_.find(folderId); folder != index_.end())
        folder->second.erase(entryId);
    return true;
}

int MaildirProvider::Watch(const ProviderStore& store,
                           std::function<void(const ProviderNewMail&)> onNewMail, std::string* why)
{
    if (!onNewMail || !MaildirTree::IsMaildir(store.id)) {
        if (why)
            *why = store.id + " is no Maildir";
        return 0;
    }
    std::shared_ptr<MaildirWatcher> watcher;
    {
        std::lock_guard lock(mutex_);
        if (!watcher_)
            watcher_ = std::make_shared<MaildirWatcher>();
        watcher = watcher_;
    }
    const std::string storeId = store.id;
    return watcher->Add(
        store.id,
        [this, storeId, onNewMail = std::move(onNewMail)](const MaildirWatcher::Arrival& a) {
            const MaildirName name(a.fileName);
            {
                // Keep the index current, so Details finds the file without listing again.
                std::lock_guard lock(mutex_);
                folderNames_.try_emplace(a.folderPath, a.folderName);
                auto folder = index_.find(a.folderPath);
                if (folder != index_.end())
                    folder->second[name.Unique()] = Location{a.inNew, a.fileName};
                else if (a.newMail)
                    index_[a.folderPath][name.Unique()] = Location{a.inNew, a.fileName};
            }
            if (a.newMail)
                onNewMail(ProviderNewMail{storeId, a.folderPath, name.Unique()});
        },
        why);
}

void MaildirProvider::Unwatch(int watch)
{
    std::shared_ptr<MaildirWatcher> watcher;
    {
        std::lock_guard lock(mutex_);
        watcher = watcher_;
    }
    if (watcher)
        watcher->Remove(watch);
}

void MaildirProvider::CloseProfile()
{
    std::shared_ptr<MaildirWatcher> watcher;
    std::shared_ptr<MaildirWatcher> retired;
    {
        std::lock_guard lock(mutex_);
        watcher = std::move(watcher_);
        if (!retired_ || !retired_->OnWatchThread())
            retired = std::move(retired_);
        index_.clear();
        folderNames_.clear();
        counted_.clear();
    }
    if (!watcher)
        return;
    watcher->Stop(); // joins its thread, unless called from it
    if (watcher->OnWatchThread()) {
        // Its thread ends after this callback; the next CloseProfile or the destructor
        // (on another thread) joins it.
        std::lock_guard lock(mutex_);
        retired_ = std::move(watcher);
    }
}
