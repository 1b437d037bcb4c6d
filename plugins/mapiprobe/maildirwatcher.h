#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// Watches Maildir stores with inotify on one thread of its own.
//
// For every folder of a watched store (the root and its Maildir++ subfolders) it watches new/
// and cur/, and the root for folders made later. A file moved into new/ (the delivery
// protocol: write in tmp/, rename or link into new/) or created there is new mail; a file
// still open for writing when it appears in new/ counts once its writer closes it, and every
// close of a file written in new/ is reported (the writing may have begun before the watch).
// Only regular files and links count: a FIFO or device node named like a message is left
// alone. A folder renamed while watched is reported under its new name. A store whose root is
// removed or moved away is watched again once a directory of that name is back in its place
// (its waiting mail reported then); until then nothing of it is reported. A file arriving
// in cur/ (a client moving a message from new/, or changing its flags) is reported as an arrival
// that is not new mail, so the owner can keep its index current. A folder made later is watched
// from then on, and the mail already in its new/ is reported as new. When the kernel's event queue
// overflows, the store's folders are looked for again (one made meanwhile is watched from then
// on) and every whole file in the watched new/ folders is reported again (the caller knows
// what it has seen).
//
// Threads: Add, Remove and Stop may be called from any thread. Callbacks run on the watcher's
// thread, one at a time, with no lock of the watcher held. Remove returns only when no
// callback of that watch runs or will run; called from a callback it does not wait (no other
// callback of it follows). Stop from a callback ends the thread after that callback; the
// destructor, which must not run on the watcher's thread, joins it. The
// thread sleeps in poll() until the kernel has an event or Stop wakes it through an eventfd:
// there are no timed wake-ups.
class MaildirWatcher
{
public:
    struct Arrival {
        std::string storeRoot;
        std::string folderPath;
        std::string folderName; // display name, as MaildirTree gives it
        std::string fileName;
        bool inNew = false;   // the file is in new/ (else cur/)
        bool newMail = false; // it is new mail
    };
    using Callback = std::function<void(const Arrival&)>;

    MaildirWatcher();
    ~MaildirWatcher(); // Stop()
    MaildirWatcher(const MaildirWatcher&) = delete;
    MaildirWatcher& operator=(const MaildirWatcher&) = delete;

    // Watches every folder of the store at `storeRoot`. Returns a watch number > 0, or 0 with
    // the reason in *why (inotify unavailable or out of watches, the root unreadable).
    int Add(const std::string& storeRoot, Callback callback, std::string* why);
    void Remove(int watch);
    // Removes every watch and ends the thread.
    void Stop();

    // Whether some process still has the regular file at `path` open for writing. A read
    // lease is refused while a writer holds it (fcntl(2), F_SETLEASE); where leases are not
    // allowed (a file of another owner, leases switched off) an empty file counts as one
    // still being written. False for a file that is gone or is no regular file.
    static bool BeingWritten(const std::string& path);

    // True on the watcher's own thread (inside a callback).
    bool OnWatchThread() const;

    // How many directories the kernel is watching for us (root, new/ and cur/ of each folder).
    size_t WatchedDirectories() const;

private:
    // Parent: the directory a store's root was in, watched while the root is gone.
    enum class Kind { Root, FolderDir, New, Cur, Tmp, Parent };
    struct Dir {
        Kind kind = Kind::New;
        std::string path;
        std::string storeRoot;
        std::string folderPath;
        std::string folderName;
        std::set<int> watches;
    };
    struct Watch {
        std::string storeRoot;
        Callback callback;
    };

    void Run();
    void Handle(const struct inotify_event& event);
    // Adds a kernel watch for `dir` on behalf of `watches` (lock held). False when it failed;
    // *fresh says whether the directory was not watched before.
    bool AddDir(const Dir& dir, const std::set<int>& watches, std::string* why,
                bool* fresh = nullptr);
    // Watches a folder's new/, cur/ and tmp/ (and, with `later`, its own directory, for those
    // made after it). Lock held. True when the watch on its new/ began now.
    bool AddFolder(const std::string& storeRoot, const std::string& path, const std::string& name,
                   const std::set<int>& watches, bool later);
    // `path` appeared in a watched parent: when it is the root of a store that is gone, its
    // watches begin again and the mail waiting in it is reported.
    void Rearm(const Dir& parent, const std::string& path);
    // Watches the part `name` ("new", "cur" or "tmp") made in `folderPath` after `parent`
    // was watched, and reports what waits in a new/ whose watch began now.
    void WatchPart(const Dir& parent, const std::string& folderPath, const std::string& name);
    // Reports every file in `newDir` as new mail.
    void ReportAll(const Dir& newDir);
    void Deliver(const std::set<int>& watches, const Arrival& arrival);
    // Reports the pending files nobody writes any more.
    void RecheckPending();
    void DropWatch(int watch); // lock held

    int inotify_ = -1;
    int wake_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::thread thread_;
    bool stopping_ = false;
    int nextWatch_ = 1;
    std::map<int, Watch> watches_;
    std::map<int, Dir> dirs_; // by inotify watch descriptor
    struct Pending {
        std::set<int> watches;
        Arrival arrival;
    };
    // Files created in new/ while still open for writing, by path: new mail once closed
    // (seen by a close in new/, or in tmp/ for a file linked into new/ before its close).
    std::map<std::string, Pending> pending_;
    // Files reported (by ReportAll, or at their creation) whose own events may still be
    // queued: those events are passed over. Cleared whenever the queue is empty.
    std::set<std::string> listed_;
    int running_ = 0; // the watch whose callback runs now, 0 for none
    std::thread::id threadId_;
};
