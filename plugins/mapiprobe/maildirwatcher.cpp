#include "maildirwatcher.h"

#include "maildirname.h"
#include "maildirtree.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr uint32_t kRootMask = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kParentMask = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;
constexpr uint32_t kFolderMask = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;
constexpr uint32_t kNewMask = IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR;
constexpr uint32_t kCurMask = IN_MOVED_TO | IN_CREATE | IN_ONLYDIR;
constexpr uint32_t kTmpMask = IN_CLOSE_WRITE | IN_ONLYDIR;

// A regular file or a link to one may be mail; a FIFO, a socket or a device node named like
// a message is not (opening one could block or act on a device).
bool MayBeMail(const std::string& path)
{
    struct stat st {
    };
    return ::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
}

} // namespace

bool MaildirWatcher::BeingWritten(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0)
        return false; // gone already: whoever reads it will say so
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    bool writing = false;
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    } else if (errno == EAGAIN || errno == EBUSY) {
        writing = true;
    } else {
        writing = st.st_size == 0;
    }
    ::close(fd);
    return writing;
}

namespace
{

uint32_t MaskOf(int kind)
{
    switch (kind) {
    case 0:
        return kRootMask;
    case 1:
        return kFolderMask;
    case 2:
        return kNewMask;
    case 3:
        return kCurMask;
    case 4:
        return kTmpMask;
    default:
        return kParentMask;
    }
}

} // namespace

MaildirWatcher::MaildirWatcher() = default;

MaildirWatcher::~MaildirWatcher()
{
    Stop();
}

bool MaildirWatcher::OnWatchThread() const
{
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == threadId_;
}

size_t MaildirWatcher::WatchedDirectories() const
{
    std::lock_guard lock(mutex_);
    return dirs_.size();
}

bool MaildirWatcher::AddDir(const Dir& dir, const std::set<int>& watches, std::string* why,
                            bool* fresh)
{
    // Stopped while the thread still handled an event: what it would add now would outlive
    // the stop (and be taken for a directory of the next start).
    if (stopping_) {
        if (why)
            *why = "the watch is ending";
        return false;
    }
    // Added to what the directory is watched for already: a folder that is a link to the
    // store's root must not take the root's own events from it.
    const int wd = ::inotify_add_watch(inotify_, dir.path.c_str(),
                                       MaskOf(static_cast<int>(dir.kind)) | IN_MASK_ADD);
    if (wd < 0) {
        if (why)
            *why = "cannot watch " + dir.path + ": " + std::strerror(errno);
        return false;
    }
    // The kernel gives the same descriptor for a directory watched twice (the same store in
    // two watches, a folder linked under a second name): the watches share it.
    auto [it, added] = dirs_.try_emplace(wd, dir);
    if (!added && it->second.path != dir.path && it->second.kind == dir.kind) {
        // A folder renamed while watched keeps its descriptor: its mail is under the new
        // name now. A name that still leads to the directory (a link) keeps the first name.
        struct stat was {
        }, now{};
        const bool moved = ::stat(it->second.path.c_str(), &was) != 0 ||
                           (::stat(dir.path.c_str(), &now) == 0 &&
                            (was.st_dev != now.st_dev || was.st_ino != now.st_ino));
        if (moved) {
            it->second.path = dir.path;
            it->second.folderPath = dir.folderPath;
            it->second.folderName = dir.folderName;
        }
    }
    it->second.watches.insert(watches.begin(), watches.end());
    if (fresh)
        *fresh = added;
    return true;
}

bool MaildirWatcher::AddFolder(const std::string& storeRoot, const std::string& path,
                               const std::string& name, const std::set<int>& watches, bool later)
{
    Dir dir;
    dir.storeRoot = storeRoot;
    dir.folderPath = path;
    dir.folderName = name;
    if (later) {
        dir.kind = Kind::FolderDir;
        dir.path = path;
        AddDir(dir, watches, nullptr);
    }
    dir.kind = Kind::New;
    dir.path = path + "/new";
    bool freshNew = false;
    const bool watchingNew = AddDir(dir, watches, nullptr, &freshNew);
    dir.kind = Kind::Cur;
    dir.path = path + "/cur";
    AddDir(dir, watches, nullptr);
    dir.kind = Kind::Tmp;
    dir.path = path + "/tmp";
    AddDir(dir, watches, nullptr);
    return watchingNew && freshNew;
}

int MaildirWatcher::Add(const std::string& storeRoot, Callback callback, std::string* why)
{
    std::unique_lock lock(mutex_);
    if (thread_.joinable() && stopping_ && std::this_thread::get_id() != threadId_) {
        // Stopped from one of its callbacks: let that thread end before starting anew.
        lock.unlock();
        thread_.join();
        lock.lock();
        ::close(inotify_);
        ::close(wake_);
        inotify_ = wake_ = -1;
    }
    if (inotify_ < 0) {
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (inotify_ < 0 || wake_ < 0) {
            if (why)
                *why = std::string("inotify is not available: ") + std::strerror(errno);
            if (inotify_ >= 0)
                ::close(inotify_);
            if (wake_ >= 0)
                ::close(wake_);
            inotify_ = wake_ = -1;
            return 0;
        }
    }
    if (!thread_.joinable()) {
        // A stop that has ended: nothing its thread noted last counts for this start.
        stopping_ = false;
        pending_.clear();
        listed_.clear();
    }
    const int id = nextWatch_++;
    watches_[id] = Watch{storeRoot, std::move(callback)};
    const std::set<int> ids{id};
    Dir root;
    root.kind = Kind::Root;
    root.path = storeRoot;
    root.storeRoot = storeRoot;
    root.folderPath = storeRoot;
    root.folderName = "Inbox";
    Dir inboxNew = root;
    inboxNew.kind = Kind::New;
    inboxNew.path = storeRoot + "/new";
    // The root and the inbox's new/ must be watched; without them the watch is no watch.
    if (!AddDir(root, ids, why) || !AddDir(inboxNew, ids, why)) {
        DropWatch(id);
        return 0;
    }
    for (const MaildirTree::Folder& folder : MaildirTree::FoldersOf(storeRoot)) {
        if (folder.path == storeRoot) {
            Dir cur = root;
            cur.kind = Kind::Cur;
            cur.path = storeRoot + "/cur";
            AddDir(cur, ids, nullptr);
            cur.kind = Kind::Tmp;
            cur.path = storeRoot + "/tmp";
            AddDir(cur, ids, nullptr);
            continue;
        }
        AddFolder(storeRoot, folder.path, folder.displayName, ids, false);
    }
    if (!thread_.joinable()) {
        stopping_ = false;
        thread_ = std::thread([this] { Run(); });
    }
    return id;
}

void MaildirWatcher::DropWatch(int watch)
{
    watches_.erase(watch);
    for (auto it = dirs_.begin(); it != dirs_.end();) {
        it->second.watches.erase(watch);
        if (it->second.watches.empty()) {
            ::inotify_rm_watch(inotify_, it->first);
            it = dirs_.erase(it);
        } else {
            ++it;
        }
    }
}

void MaildirWatcher::Remove(int watch)
{
    std::unique_lock lock(mutex_);
    DropWatch(watch);
    if (std::this_thread::get_id() == threadId_)
        return; // a callback removing its own watch: nothing of it runs after this one
    idle_.wait(lock, [&] { return running_ != watch; });
}

void MaildirWatcher::Stop()
{
    std::unique_lock lock(mutex_);
    watches_.clear();
    for (const auto& [wd, dir] : dirs_)
        ::inotify_rm_watch(inotify_, wd);
    dirs_.clear();
    pending_.clear();
    listed_.clear();
    if (thread_.joinable()) {
        stopping_ = true;
        const uint64_t one = 1;
        // The eventfd counter cannot overflow at one write per Stop.
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
        if (std::this_thread::get_id() == threadId_)
            return; // from a callback: the thread ends after it, the destructor joins it
        lock.unlock();
        thread_.join();
        lock.lock();
    }
    if (inotify_ >= 0) {
        ::close(inotify_);
        ::close(wake_);
        inotify_ = wake_ = -1;
    }
}

void MaildirWatcher::Run()
{
    {
        std::lock_guard lock(mutex_);
        threadId_ = std::this_thread::get_id();
    }
    alignas(struct inotify_event) char buffer[64 * 1024];
    for (;;) {
        pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                break;
        }
        if (!(fds[0].revents & POLLIN))
            continue;
        for (;;) {
            const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
            if (n <= 0) {
                // The queue is empty: every event of a file listed by ReportAll has been seen.
                {
                    std::lock_guard lock(mutex_);
                    listed_.clear();
                }
                RecheckPending();
                break;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
                Handle(*event);
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            }
        }
    }
    std::lock_guard lock(mutex_);
    threadId_ = std::thread::id();
}

void MaildirWatcher::Handle(const struct inotify_event& event)
{
    if (event.mask & IN_Q_OVERFLOW) {
        // Events were lost: whatever sits in new/ may be new, and folders may have been made
        // unseen. The owner skips what it knows.
        std::vector<Dir> roots;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [wd, dir] : dirs_)
                if (dir.kind == Kind::Root)
                    roots.push_back(dir);
        }
        for (const Dir& root : roots) {
            const auto folders = MaildirTree::FoldersOf(root.path);
            std::lock_guard lock(mutex_);
            for (const MaildirTree::Folder& folder : folders)
                if (folder.path != root.path)
                    AddFolder(root.storeRoot, folder.path, folder.displayName, root.watches, true);
        }
        std::vector<Dir> news;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [wd, dir] : dirs_)
                if (dir.kind == Kind::New)
                    news.push_back(dir);
        }
        for (const Dir& dir : news)
            ReportAll(dir);
        return;
    }
    const std::string name = event.len ? std::string(event.name) : std::string();
    Dir dir;
    {
        std::lock_guard lock(mutex_);
        auto it = dirs_.find(event.wd);
        if (it == dirs_.end())
            return;
        if (event.mask & IN_IGNORED) {
            dirs_.erase(it); // the directory is gone
            return;
        }
        dir = it->second;
    }
    const bool isDir = event.mask & IN_ISDIR;
    switch (dir.kind) {
    case Kind::Parent: {
        if (isDir && (event.mask & (IN_CREATE | IN_MOVED_TO)))
            Rearm(dir, dir.path + "/" + name);
        return;
    }
    case Kind::Root: {
        if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
            // The store is gone from its place: watch for it to come back there. What was
            // watched under the old name (moved away) says nothing of this store any more.
            Dir parent = dir;
            parent.kind = Kind::Parent;
            parent.path = dir.path.substr(0, dir.path.rfind('/'));
            if (parent.path.empty())
                parent.path = "/";
            {
                std::lock_guard lock(mutex_);
                for (auto it = dirs_.begin(); it != dirs_.end();) {
                    if (it->second.storeRoot == dir.storeRoot && it->second.kind != Kind::Parent) {
                        ::inotify_rm_watch(inotify_, it->first);
                        it = dirs_.erase(it);
                    } else {
                        ++it;
                    }
                }
                if (!AddDir(parent, dir.watches, nullptr))
                    return; // the parent is gone too: nothing to wait on
            }
            // Made again before the parent's watch began: no event of it will come.
            struct stat st {
            };
            if (::stat(dir.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                Rearm(parent, dir.path);
            return;
        }
        if (!isDir || !(event.mask & (IN_CREATE | IN_MOVED_TO)))
            return;
        if (name == "new" || name == "cur" || name == "tmp") {
            // The inbox's own parts, made after the store's directory (a store made again).
            WatchPart(dir, dir.path, name);
            return;
        }
        const std::string display = MaildirTree::DisplayName(name);
        if (display.empty())
            return;
        const std::string path = dir.path + "/" + name;
        bool freshNew = false;
        {
            std::lock_guard lock(mutex_);
            freshNew = AddFolder(dir.storeRoot, path, display, dir.watches, true);
        }
        // Mail may have landed before the watch on new/ was in place. Listed once per new/,
        // when its watch begins (a later event for the same new/ finds it watched).
        if (!freshNew)
            return;
        Dir news = dir;
        news.kind = Kind::New;
        news.path = path + "/new";
        news.folderPath = path;
        news.folderName = display;
        ReportAll(news);
        return;
    }
    case Kind::FolderDir: {
        if (!isDir || !(event.mask & (IN_CREATE | IN_MOVED_TO)) ||
            (name != "new" && name != "cur" && name != "tmp"))
            return;
        WatchPart(dir, dir.folderPath, name);
        return;
    }
    case Kind::Tmp:
        RecheckPending();
        return;
    case Kind::New:
    case Kind::Cur:
        break;
    }
    if (isDir || !MaildirName(name).Valid())
        return;
    Arrival arrival{dir.storeRoot, dir.folderPath,        dir.folderName,
                    name,          dir.kind == Kind::New, false};
    const std::string path = dir.path + "/" + name;
    if (!MayBeMail(path))
        return;
    if (dir.kind == Kind::New) {
        {
            // Listed when its folder appeared, or reported when it was created, its own
            // event still queued: reported already.
            std::lock_guard lock(mutex_);
            if (listed_.count(path))
                return;
        }
        if (event.mask & IN_MOVED_TO) {
            arrival.newMail = true;
        } else if (event.mask & IN_CREATE) {
            // A link() from tmp/ arrives whole; a file opened right here is new mail once its
            // writer closes it.
            const bool writing = BeingWritten(path);
            std::lock_guard lock(mutex_);
            if (writing) {
                pending_[path] = Pending{dir.watches, arrival};
                return;
            }
            // Its writer, if any, has closed it: that close is queued behind this event.
            listed_.insert(path);
            arrival.newMail = true;
        } else if (event.mask & IN_CLOSE_WRITE) {
            // Written whole now: also a file whose writing began before the watch did, which
            // a reader may have passed over while it was incomplete.
            std::lock_guard lock(mutex_);
            pending_.erase(path);
            arrival.newMail = true;
        }
        if (!arrival.newMail)
            return;
    }
    Deliver(dir.watches, arrival);
}

void MaildirWatcher::Rearm(const Dir& parent, const std::string& path)
{
    std::set<int> ids;
    {
        std::lock_guard lock(mutex_);
        for (int id : parent.watches) {
            auto it = watches_.find(id);
            if (it != watches_.end() && it->second.storeRoot == path)
                ids.insert(id);
        }
    }
    if (ids.empty())
        return; // not the store: another directory beside it
    std::vector<Dir> fresh;
    Dir root;
    root.kind = Kind::Root;
    root.path = root.storeRoot = root.folderPath = path;
    root.folderName = "Inbox";
    root.watches = ids;
    {
        // The root first: a folder made from now on is seen by its event, one made before
        // by the listing below.
        std::lock_guard lock(mutex_);
        if (!AddDir(root, ids, nullptr))
            return; // gone again, or not readable: its next coming is seen here again
        for (const Kind kind : {Kind::New, Kind::Cur, Kind::Tmp}) {
            Dir sub = root;
            sub.kind = kind;
            sub.path = path + (kind == Kind::New ? "/new" : kind == Kind::Cur ? "/cur" : "/tmp");
            bool added = false;
            if (AddDir(sub, ids, nullptr, &added) && added && kind == Kind::New)
                fresh.push_back(sub);
        }
    }
    const auto folders = MaildirTree::FoldersOf(path);
    {
        std::lock_guard lock(mutex_);
        for (const MaildirTree::Folder& folder : folders) {
            if (folder.path == path)
                continue;
            if (AddFolder(path, folder.path, folder.displayName, ids, true)) {
                Dir sub = root;
                sub.kind = Kind::New;
                sub.path = folder.path + "/new";
                sub.folderPath = folder.path;
                sub.folderName = folder.displayName;
                fresh.push_back(sub);
            }
        }
        // Back in its place: the parent need not be watched for it any more.
        for (auto it = dirs_.begin(); it != dirs_.end(); ++it) {
            if (it->second.kind != Kind::Parent || it->second.path != parent.path)
                continue;
            for (int id : ids)
                it->second.watches.erase(id);
            if (it->second.watches.empty()) {
                ::inotify_rm_watch(inotify_, it->first);
                dirs_.erase(it);
            }
            break;
        }
    }
    // Mail delivered before the watches were in place.
    for (const Dir& dir : fresh)
        ReportAll(dir);
}

void MaildirWatcher::WatchPart(const Dir& parent, const std::string& folderPath,
                               const std::string& name)
{
    Dir sub = parent;
    sub.kind = name == "new" ? Kind::New : name == "cur" ? Kind::Cur : Kind::Tmp;
    sub.path = folderPath + "/" + name;
    bool fresh = false;
    {
        std::lock_guard lock(mutex_);
        AddDir(sub, parent.watches, nullptr, &fresh);
    }
    // Mail may have landed in a new/ before its watch began.
    if (sub.kind == Kind::New && fresh)
        ReportAll(sub);
}

void MaildirWatcher::ReportAll(const Dir& newDir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(newDir.path.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (MaildirName(e->d_name).Valid())
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::vector<std::string> whole;
    std::vector<std::string> writing;
    for (const std::string& name : names) {
        const std::string path = newDir.path + "/" + name;
        if (MayBeMail(path))
            (BeingWritten(path) ? writing : whole).push_back(name);
    }
    {
        std::lock_guard lock(mutex_);
        for (const std::string& name : whole)
            listed_.insert(newDir.path + "/" + name);
        // Still being written in place: new mail once closed, not before.
        for (const std::string& name : writing)
            pending_[newDir.path + "/" + name] =
                Pending{newDir.watches, Arrival{newDir.storeRoot, newDir.folderPath,
                                                newDir.folderName, name, true, true}};
    }
    for (const std::string& name : whole)
        Deliver(newDir.watches,
                Arrival{newDir.storeRoot, newDir.folderPath, newDir.folderName, name, true, true});
}

void MaildirWatcher::Deliver(const std::set<int>& watches, const Arrival& arrival)
{
    for (int id : watches) {
        Callback callback;
        {
            std::lock_guard lock(mutex_);
            auto it = watches_.find(id);
            if (it == watches_.end() || stopping_)
                continue; // removed meanwhile
            callback = it->second.callback;
            running_ = id;
        }
        callback(arrival);
        {
            std::lock_guard lock(mutex_);
            running_ = 0;
        }
        idle_.notify_all();
    }
}

void MaildirWatcher::RecheckPending()
{
    std::map<std::string, Pending> pending;
    {
        std::lock_guard lock(mutex_);
        pending = pending_;
    }
    for (auto& [path, file] : pending) {
        struct stat st {
        };
        const bool gone = ::lstat(path.c_str(), &st) != 0;
        if (!gone && BeingWritten(path))
            continue;
        {
            std::lock_guard lock(mutex_);
            if (pending_.erase(path) == 0)
                continue;
        }
        if (!gone) {
            file.arrival.newMail = true;
            Deliver(file.watches, file.arrival);
        }
    }
}
