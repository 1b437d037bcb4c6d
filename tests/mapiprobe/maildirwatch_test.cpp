// The provider end to end on a real Maildir: log-on listing, then new mail delivered by a
// delivery agent is seen once, a message a client reads is not new, a folder made later is
// watched, a deleted message goes to the trash, and nothing comes after Unwatch.
#include "maildirfixture.h"
#include "maildirprovider.h"
#include "support/component.h"
#include "support/runprocess.h"
#include "support/tablerow.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr const char* kLda = "/usr/lib/dovecot/dovecot-lda";
constexpr const char* kSetpriv = "/usr/bin/setpriv";

// What a watch reported, in order.
class Collector
{
public:
    void Add(const ProviderNewMail& mail)
    {
        std::lock_guard lock(mutex_);
        seen_.push_back(mail);
        changed_.notify_all();
    }
    // Waits until `count` reports came. The bound only keeps a broken watch from hanging the
    // run; a working one answers at once.
    bool WaitFor(size_t count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return seen_.size() >= count; });
    }
    std::vector<ProviderNewMail> Seen()
    {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ProviderNewMail> seen_;
};

std::string Message(const std::string& subject)
{
    return "From: Ann <ann@example.org>\nSubject: " + subject + "\n\nHello\n";
}

// A delivery agent: puts `message` into the Maildir at `root`, in the subfolder `folder`
// ("" for the inbox), making the folder when it is missing.
struct Agent {
    virtual ~Agent() = default;
    virtual std::string Missing() const { return {}; }
    virtual void Prepare(const TempDir&, const std::string&) {}
    virtual bool Deliver(const std::string& root, const std::string& folder,
                         const std::string& message, std::string& why) = 0;
};

// The Maildir delivery protocol itself: written whole in tmp/, then renamed (or, as older
// agents do, linked) into new/; or, against the protocol, written in place in new/.
struct ProtocolAgent : Agent {
    enum Mode { Rename, Link, InPlace } mode;
    explicit ProtocolAgent(Mode m) : mode(m) {}
    int n = 0;
    bool Deliver(const std::string& root, const std::string& folder, const std::string& message,
                 std::string& why) override
    {
        const std::string dir = folder.empty() ? root : root + "/." + folder;
        if (!Exists(dir + "/new")) {
            // A client makes a folder the way Maildir++ does: the directory, then its parts.
            std::filesystem::create_directory(dir);
            MakeMaildir(dir);
        }
        const std::string name =
            std::to_string(1796687259 + n++) + ".M1P" + std::to_string(::getpid()) + ".test";
        if (mode == Rename) {
            DeliverByProtocol(dir, name, message);
            return true;
        }
        if (mode == Link) {
            WriteWholeFile(dir + "/tmp/" + name, message);
            const bool ok =
                ::link((dir + "/tmp/" + name).c_str(), (dir + "/new/" + name).c_str()) == 0;
            why = ok ? "" : std::strerror(errno);
            ::unlink((dir + "/tmp/" + name).c_str());
            return ok;
        }
        // Opened empty, then written in two steps: new mail only once it is closed.
        const int fd = ::open((dir + "/new/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0)
            return false;
        const size_t half = message.size() / 2;
        bool ok = ::write(fd, message.data(), half) == static_cast<ssize_t>(half);
        ok = ok && ::write(fd, message.data() + half, message.size() - half) ==
                       static_cast<ssize_t>(message.size() - half);
        ::close(fd);
        return ok;
    }
};

// Dovecot's delivery agent, run as an unprivileged user (as root it would need the
// authentication service to find a user).
struct DovecotAgent : Agent {
    std::string conf;
    bool asNobody = ::geteuid() == 0;
    std::string Missing() const override
    {
        if (!Exists(kLda))
            return MissingComponent("dovecot-lda", std::string(kLda) + " is not installed");
        if (asNobody && !Exists(kSetpriv))
            return MissingComponent("setpriv", "dovecot-lda cannot run as root without it");
        return {};
    }
    void Prepare(const TempDir& dir, const std::string& root) override
    {
        conf = dir.File("lda.conf");
        WriteWholeFile(conf, "mail_location = maildir:" + root + "\nbase_dir = " + dir.File("run") +
                                 "\nstate_dir = " + dir.File("state") +
                                 "\nlog_path = " + dir.File("lda.log") +
                                 "\nssl = no\nlda_mailbox_autocreate = yes\n");
        if (asNobody) {
            std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);
            for (const auto& e : std::filesystem::recursive_directory_iterator(root))
                std::filesystem::permissions(e.path(), std::filesystem::perms::all);
            std::filesystem::permissions(root, std::filesystem::perms::all);
        }
    }
    bool Deliver(const std::string&, const std::string& folder, const std::string& message,
                 std::string& why) override
    {
        std::vector<std::string> args = {kLda, "-c", conf};
        if (!folder.empty())
            args.insert(args.end(), {"-m", folder});
        std::string program = kLda;
        std::vector<std::string> env = {"HOME=/tmp", "USER=nobody"};
        if (asNobody) {
            program = kSetpriv;
            args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups"});
        } else {
            args.erase(args.begin());
        }
        const ProcessResult r = RunProcess(program, args, message, env);
        why = r.err + r.out;
        return r.exitCode == 0;
    }
};

struct WatchRow {
    const char* name;
    Agent* (*make)();
};
POSTWATCH_ROW_PRINTS_NAME(WatchRow)

const WatchRow kRows[] = {
    {"DeliveryProtocol", []() -> Agent* { return new ProtocolAgent(ProtocolAgent::Rename); }},
    {"DeliveryByLink", []() -> Agent* { return new ProtocolAgent(ProtocolAgent::Link); }},
    {"WrittenInNew", []() -> Agent* { return new ProtocolAgent(ProtocolAgent::InPlace); }},
    {"DovecotLda", []() -> Agent* { return new DovecotAgent; }},
};

class MaildirWatch : public ::testing::TestWithParam<WatchRow>
{
};

std::string Subject(MaildirProvider& provider, const ProviderNewMail& mail)
{
    ProviderMessageDetails details;
    if (!provider.Details(mail.folderId, mail.entryId, 1024, details))
        return "(gone)";
    return details.subject;
}

TEST_P(MaildirWatch, SeesEachNewMessageOnce)
{
    std::unique_ptr<Agent> agent(GetParam().make());
    if (const std::string missing = agent->Missing(); !missing.empty())
        GTEST_SKIP() << missing;
    TempDir dir;
    const std::string root = dir.File("Maildir");
    MakeMaildir(root);
    MakeMaildir(root + "/.Lists.Debian");
    WriteWholeFile(root + "/new/1700000000.a.host", Message("unread in new"));
    WriteWholeFile(root + "/cur/1700000001.b.host:2,", Message("unread in cur"));
    WriteWholeFile(root + "/cur/1700000002.c.host:2,RS", Message("read"));
    WriteWholeFile(root + "/.Lists.Debian/cur/1700000003.d.host:2,F", Message("listed"));
    agent->Prepare(dir, root);

    // The log-on listing.
    MaildirProvider provider({{"Local", {root}}});
    ASSERT_TRUE(provider.Present());
    std::vector<ProviderStore> stores;
    std::string why;
    ASSERT_EQ(provider.OpenProfile("local", stores, &why), ProviderStatus::kOk) << why;
    ASSERT_EQ(stores.size(), 1u);
    EXPECT_TRUE(stores[0].isDefault);
    EXPECT_EQ(stores[0].displayName, "Maildir");
    std::vector<ProviderFolder> folders;
    ASSERT_EQ(provider.Folders(stores[0], folders, &why), ProviderStatus::kOk) << why;
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0].displayName, "Inbox");
    EXPECT_EQ(folders[0].unreadCount, 2u);
    EXPECT_EQ(folders[1].displayName, "Lists/Debian");
    EXPECT_EQ(folders[1].unreadCount, 1u);
    std::vector<ProviderMessage> messages;
    ASSERT_EQ(provider.Messages(folders[0], messages, &why), ProviderStatus::kOk);
    size_t unread = 0;
    for (const ProviderMessage& m : messages)
        unread += m.read ? 0 : 1;
    EXPECT_EQ(messages.size(), 3u);
    EXPECT_EQ(unread, 2u);

    // Watching: delivered mail is seen once.
    Collector first;
    const int watch = provider.Watch(
        stores[0], [&](const ProviderNewMail& m) { first.Add(m); }, &why);
    ASSERT_GT(watch, 0) << why;
    ASSERT_TRUE(agent->Deliver(root, "", Message("one"), why)) << why;
    ASSERT_TRUE(first.WaitFor(1));
    const ProviderNewMail one = first.Seen()[0];
    EXPECT_EQ(one.storeId, stores[0].id);
    EXPECT_EQ(one.folderId, root);
    EXPECT_EQ(Subject(provider, one), "one");

    // A client reads it: moved to cur/ with "S". Not new mail, and it keeps its id.
    const std::string newPath = root + "/new/" + one.entryId;
    ASSERT_TRUE(Exists(newPath));
    std::filesystem::rename(newPath, root + "/cur/" + one.entryId + ":2,S");
    EXPECT_EQ(Subject(provider, one), "one");

    // A folder made after the watch began is watched too.
    ASSERT_TRUE(agent->Deliver(root, "Later", Message("in a new folder"), why)) << why;
    ASSERT_TRUE(first.WaitFor(2));
    std::vector<ProviderNewMail> seen = first.Seen();
    ASSERT_EQ(seen.size(), 2u) << "the read message came again";
    EXPECT_EQ(seen[1].folderId, root + "/.Later");
    EXPECT_EQ(provider.FolderName(seen[1].folderId), "Later");
    EXPECT_EQ(Subject(provider, seen[1]), "in a new folder");

    // Delete: into the trash with "T", never unlinked.
    ASSERT_TRUE(provider.Delete(stores[0].id, seen[1].folderId, seen[1].entryId, &why)) << why;
    EXPECT_TRUE(Exists(root + "/.Trash/cur/" + seen[1].entryId + ":2,T"));
    EXPECT_TRUE(Exists(root + "/.Trash/tmp"));
    EXPECT_FALSE(Exists(root + "/.Later/new/" + seen[1].entryId));

    // After Unwatch nothing comes; a second watch sees only what came after it.
    provider.Unwatch(watch);
    ASSERT_TRUE(agent->Deliver(root, "", Message("unwatched"), why)) << why;
    Collector second;
    const int again = provider.Watch(
        stores[0], [&](const ProviderNewMail& m) { second.Add(m); }, &why);
    ASSERT_GT(again, 0) << why;
    ASSERT_TRUE(agent->Deliver(root, "", Message("two"), why)) << why;
    ASSERT_TRUE(second.WaitFor(1));
    EXPECT_EQ(first.Seen().size(), 2u);
    ASSERT_EQ(second.Seen().size(), 1u);
    EXPECT_EQ(Subject(provider, second.Seen()[0]), "two");
    provider.Unwatch(again);
    provider.CloseProfile();
}

// Log-off may come from inside a new-mail callback (a rule that ends the watch): the
// watch ends after that callback, without waiting for itself.
TEST(MaildirWatchEnd, CloseProfileFromTheCallback)
{
    TempDir dir;
    const std::string root = dir.File("Maildir");
    MakeMaildir(root);
    auto provider =
        std::make_unique<MaildirProvider>(MaildirProvider::ProfileList{{"Local", {root}}});
    std::vector<ProviderStore> stores;
    std::string why;
    ASSERT_EQ(provider->OpenProfile("Local", stores, &why), ProviderStatus::kOk) << why;
    Collector seen;
    ASSERT_GT(provider->Watch(
                  stores[0],
                  [&](const ProviderNewMail& m) {
                      provider->CloseProfile();
                      seen.Add(m);
                  },
                  &why),
              0)
        << why;
    DeliverByProtocol(root, "1.a.test", Message("one"));
    ASSERT_TRUE(seen.WaitFor(1));
    provider.reset(); // joins the watch thread from here
    EXPECT_EQ(seen.Seen().size(), 1u);
}

// More mail than the kernel's event queue holds while a callback is busy: the events are
// lost, the mail is not.
TEST(MaildirWatchEnd, NoMailLostWhenEventsOverflow)
{
    TempDir dir;
    const std::string root = dir.File("Maildir");
    MakeMaildir(root);
    MaildirProvider provider({{"Local", {root}}});
    std::vector<ProviderStore> stores;
    std::string why;
    ASSERT_EQ(provider.OpenProfile("Local", stores, &why), ProviderStatus::kOk) << why;
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    std::set<std::string> seen;
    ASSERT_GT(provider.Watch(
                  stores[0],
                  [&](const ProviderNewMail& m) {
                      std::unique_lock lock(mutex);
                      seen.insert(m.entryId);
                      changed.notify_all();
                      changed.wait(lock, [&] { return release; });
                  },
                  &why),
              0)
        << why;
    // One message linked into new/ under more names than the queue has room for events (the
    // link protocol of delivery: each name is a message).
    const int count = 17000;
    WriteWholeFile(root + "/tmp/flood", "Subject: flood\n\n");
    for (int n = 0; n < count; ++n)
        ASSERT_EQ(::link((root + "/tmp/flood").c_str(),
                         (root + "/new/" + std::to_string(n) + ".flood").c_str()),
                  0);
    // A folder made while the queue is full: its event is lost too, its mail is not, and it
    // is watched from then on.
    MakeMaildir(root + "/.Late");
    DeliverByProtocol(root + "/.Late", "1796687400.M1P1.late", Message("late"));
    {
        std::unique_lock lock(mutex);
        release = true;
        changed.notify_all();
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60),
                                     [&] { return seen.size() == count + 1; }))
            << seen.size() << " of " << count + 1;
    }
    DeliverByProtocol(root + "/.Late", "1796687401.M1P1.later", Message("later"));
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(20),
                                     [&] { return seen.count("1796687401.M1P1.later") == 1; }));
    }
    provider.CloseProfile();
}

INSTANTIATE_TEST_SUITE_P(Agents, MaildirWatch, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// What the store looks like around the watch, and what must be reported: each message once,
// under the folder it is in, readable; nothing else, and no hang.
struct Hostile {
    std::string root;
    int fd = -1;
    std::string Folder(const std::string& name) const { return root + "/" + name; }
};
struct HostileRow {
    const char* name;
    void (*before)(Hostile&);                              // before the watch begins
    void (*after)(Hostile&, MaildirProvider&);             // once it runs
    std::vector<std::pair<std::string, std::string>> want; // folder ("" inbox), subject
};
POSTWATCH_ROW_PRINTS_NAME(HostileRow)

const char* const kHalfWritten = "1796687300.M9P9.test";

const HostileRow kHostileRows[] = {
    {"FolderRenamedWhileWatched",
     [](Hostile& h) { MakeMaildir(h.Folder(".Old")); },
     [](Hostile& h, MaildirProvider&) {
         std::filesystem::rename(h.Folder(".Old"), h.Folder(".New"));
         DeliverByProtocol(h.Folder(".New"), "1796687301.M1P1.test", Message("renamed"));
     },
     {{".New", "renamed"}}},
    // A delivery agent that writes straight into new/ began before the watch: nothing of it
    // is read until it is whole, then it is reported once.
    {"WrittenInNewFromBeforeTheWatch",
     [](Hostile& h) {
         h.fd =
             ::open((h.root + "/new/" + kHalfWritten).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
         ASSERT_GE(h.fd, 0);
         const std::string start = "From: Ann <ann@example.org>\nSub";
         ASSERT_EQ(::write(h.fd, start.data(), start.size()), static_cast<ssize_t>(start.size()));
     },
     [](Hostile& h, MaildirProvider& provider) {
         ProviderMessageDetails details;
         EXPECT_FALSE(provider.Details(h.root, kHalfWritten, 1024, details))
             << "read while half written: " << details.subject;
         const std::string rest = "ject: whole\n\nHello\n";
         ASSERT_EQ(::write(h.fd, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
         ::close(h.fd);
     },
     {{"", "whole"}}},
    {"FifoNamedLikeAMessage",
     [](Hostile& h) {
         ASSERT_EQ(::mkfifo((h.root + "/new/1796687302.M1P1.fifo").c_str(), 0600), 0);
     },
     [](Hostile& h, MaildirProvider&) {
         ASSERT_EQ(::mkfifo((h.root + "/new/1796687303.M1P1.fifo").c_str(), 0600), 0);
         ASSERT_EQ(::mkfifo((h.root + "/cur/1796687304.M1P1.fifo:2,").c_str(), 0600), 0);
     },
     {}},
    // The store's directory removed and made again (a sync tool starting afresh): watched
    // again, its mail reported.
    {"StoreRemovedAndMadeAgain",
     [](Hostile&) {},
     [](Hostile& h, MaildirProvider&) {
         std::filesystem::remove_all(h.root);
         MakeMaildir(h.root);
         MakeMaildir(h.Folder(".Back"));
         DeliverByProtocol(h.Folder(".Back"), "1796687306.M1P1.test", Message("back"));
     },
     {{".Back", "back"}}},
    // A folder that is the store again under another name, and one that is a link to itself.
    {"FolderLinks",
     [](Hostile& h) {
         ASSERT_EQ(::symlink(h.root.c_str(), h.Folder(".Self").c_str()), 0);
         ASSERT_EQ(::symlink(".Loop", h.Folder(".Loop").c_str()), 0);
     },
     [](Hostile& h, MaildirProvider&) {
         DeliverByProtocol(h.root, "1796687305.M1P1.test", Message("inbox"));
     },
     {{"", "inbox"}}},
};

class MaildirWatchHostile : public ::testing::TestWithParam<HostileRow>
{
};

TEST_P(MaildirWatchHostile, ReportsEachMessageOnceUnderItsFolder)
{
    const HostileRow& row = GetParam();
    TempDir dir;
    Hostile h{dir.File("Maildir")};
    MakeMaildir(h.root);
    row.before(h);
    MaildirProvider provider({{"Local", {h.root}}});
    std::vector<ProviderStore> stores;
    std::string why;
    ASSERT_EQ(provider.OpenProfile("Local", stores, &why), ProviderStatus::kOk) << why;
    std::vector<ProviderFolder> folders;
    ASSERT_EQ(provider.Folders(stores[0], folders, &why), ProviderStatus::kOk) << why;
    Collector seen;
    const int watch = provider.Watch(
        stores[0], [&](const ProviderNewMail& m) { seen.Add(m); }, &why);
    ASSERT_GT(watch, 0) << why;
    row.after(h, provider);
    // The watch handles events in order: once this one is reported, so is all before it.
    DeliverByProtocol(h.root, "1796687399.M1P1.last", Message("last"));
    ASSERT_TRUE(seen.WaitFor(row.want.size() + 1));
    std::vector<std::pair<std::string, std::string>> got;
    for (const ProviderNewMail& m : seen.Seen()) {
        const std::string folder =
            m.folderId == h.root ? "" : m.folderId.substr(m.folderId.rfind('/') + 1);
        got.emplace_back(folder, Subject(provider, m));
    }
    // Mail waiting in a folder the watch finds again is listed in no set order.
    auto want = row.want;
    want.emplace_back("", "last");
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    provider.Unwatch(watch);
    provider.CloseProfile();
}

INSTANTIATE_TEST_SUITE_P(Table, MaildirWatchHostile, ::testing::ValuesIn(kHostileRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
