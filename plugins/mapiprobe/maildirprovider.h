#pragma once

#include "maildirwatcher.h"
#include "mailprovider.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// The mail provider over local Maildir folders, as delivery agents, sync tools and local mail
// servers write them.
//
// Profiles: the settings store key "<program key>\\Mapiprobe\\Profiles" (ProgramKey::Path):
// each value name is a profile name, its string value one or more Maildir roots separated by
// ';' ("~/Maildir;/srv/mail/ann"; blanks around a root are dropped, a leading "~/" is the home
// folder). When no profile is configured there is one, "Local mail", for the first of
// $MAILDIR, ~/Maildir and ~/.mail that holds a Maildir. A root that is a Maildir is one store;
// a root whose subfolders are Maildirs (one per account, as sync tools lay them out) gives one
// store per subfolder (MaildirTree). The first store of a profile is its default store; no
// Maildir store holds public folders or is a second copy of the user's own.
//
// Stores and folders: a store's id is its root's path, its display name the root's last
// component; its folders are the root ("Inbox") and its Maildir++ subfolders, named as
// MaildirTree decodes them ("Lists/Debian"). A folder's id is its directory's path.
//
// Messages: the entry id is the file name's unique part (MaildirName), so a message keeps it
// when a client moves it from new/ to cur/ or changes its flags. Unread: in new/, or in cur/
// without "S" (a "T" message never is). Messages lists the unread messages the last
// Folders counted first, then the rest, each part oldest first (the file name's stamp), so
// that a budget of the counted number takes what was counted. Details read a bounded window of the
// file (MaildirMessage), and nothing of a file in new/ still being written in place (false: the
// watch reports it once it is whole); the delivery time is the file name's stamp, else the Date
// field, else the file's modification time; `body` holds at most `bodyLimit` bytes.
//
// Delete moves the message into the store's ".Trash" folder (made when missing, with cur/,
// new/, tmp/ and the "maildirfolder" mark of Maildir++) as "<unique>:2,<flags>T", by rename(2)
// within the file system; it never unlinks and never replaces a file (a name already taken in
// the trash gets a suffix). A message already in the trash only gets "T".
//
// Watch: one MaildirWatcher (one thread, inotify) serves every watch; ProviderNewMail comes on
// that thread for each message moved or written into a new/ folder.
//
// Threads: every call may come from any thread (the state is behind one lock, never held
// while a callback runs). A new-mail callback may call everything but the destructor;
// Unwatch and CloseProfile from a callback do not wait for it to end.
class MaildirProvider : public MailProvider
{
public:
    using ProfileList = std::vector<std::pair<std::string, std::vector<std::string>>>;

    // Profiles from the settings store (read again at every call), else "Local mail".
    MaildirProvider();
    // Exactly these profiles (name, roots); the settings store and environment are not read.
    explicit MaildirProvider(ProfileList profiles);
    ~MaildirProvider() override;

    bool Present() override;
    std::vector<std::string> Profiles() override;
    ProviderStatus OpenProfile(const std::string& profile, std::vector<ProviderStore>& stores,
                               std::string* why) override;
    ProviderStatus Folders(const ProviderStore& store, std::vector<ProviderFolder>& folders,
                           std::string* why) override;
    ProviderStatus Messages(const ProviderFolder& folder, std::vector<ProviderMessage>& messages,
                            std::string* why) override;
    std::string FolderName(const std::string& folderId) override;
    bool Details(const std::string& folderId, const std::string& entryId, uint32_t bodyLimit,
                 ProviderMessageDetails& details) override;
    bool Delete(const std::string& storeId, const std::string& folderId, const std::string& entryId,
                std::string* why) override;
    int Watch(const ProviderStore& store, std::function<void(const ProviderNewMail&)> onNewMail,
              std::string* why) override;
    void Unwatch(int watch) override;
    void CloseProfile() override;

    // The configured profiles (settings store, else the "Local mail" default), in order.
    static ProfileList ConfiguredProfiles();
    // A settings value split into roots (';' separated, trimmed, "~/" expanded, a relative
    // root taken below the home folder).
    static std::vector<std::string> SplitRoots(const std::string& value);
    static constexpr const char* kDefaultProfile = "Local mail";
    static constexpr const char* kTrashFolder = ".Trash";

private:
    // Where a message file was last seen.
    struct Location {
        bool inNew = false;
        std::string fileName;
    };
    using FolderIndex = std::unordered_map<std::string, Location>; // by entry id

    ProfileList Current() const;
    // Finds the file of `entryId` in the folder, scanning it again when the index is stale.
    bool Locate(const std::string& folderId, const std::string& entryId, Location& where);
    // Lists new/ and cur/ of a folder into a fresh index; false when cur/ cannot be read.
    static bool Scan(const std::string& folderPath, FolderIndex& index, std::string* why);
    static bool EnsureTrash(const std::string& trash, std::string* why);

    const bool fixed_;
    const ProfileList fixedProfiles_;
    std::mutex mutex_;
    std::map<std::string, std::string> folderNames_; // folder id -> display name
    std::unordered_map<std::string, FolderIndex> index_;
    // The unread messages Folders counted, by folder id: Messages lists them first.
    std::unordered_map<std::string, std::unordered_set<std::string>> counted_;
    std::shared_ptr<MaildirWatcher> watcher_; // made by the first Watch
    // A watcher stopped from its own thread (CloseProfile in a callback): joined later.
    std::shared_ptr<MaildirWatcher> retired_;
};
