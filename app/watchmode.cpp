#include "watchmode.h"

#include "accountmanager.h"
#include "apppaths.h"
#include "capabilitymemory.h"
#include "checkengine.h"
#include "dialoguebox.h"
#include "dialupnetwork.h"
#include "enginestate.h"
#include "exitsignalnotifier.h"
#include "frontwindowtarget.h"
#include "headerlisttarget.h"
#include "libraryaccountplugins.h"
#include "mapiprobelibrary.h"
#include "mergethreadsink.h"
#include "newmailmerge.h"
#include "notificationtarget.h"
#include "portalpostlibrary.h"
#include "printabletext.h"
#include "protocolcheck.h"
#include "pushscheduler.h"
#include "regsettings.h"
#include "routetablenetwork.h"
#include "singleinstance.h"
#include "unreadcountfeed.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QMetaObject>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <memory>
#include <mutex>
#include <ostream>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace
{

constexpr char kCountsTag[] = "postwatch/1 counts ";
constexpr char kOk[] = "postwatch/1 ok\n";
// A counts line carries every account name: generous, but bounded.
constexpr qsizetype kMaxStreamLine = 1 << 20;
constexpr int kEngineEndMs = 30000;

// Writes the lines of one format, the header before the first.
class LinePrinter
{
public:
    LinePrinter(WatchFormat::Kind kind, std::ostream& out) : kind_(kind), out_(out) {}
    // Prints a line unless the counts are the ones printed last (a take-over or a new
    // attachment starts with the counts the bar already shows).
    void Print(const UnreadCounts& counts)
    {
        if (!first_ && counts == last_)
            return;
        if (first_)
            out_ << WatchFormat::Header(kind_);
        out_ << WatchFormat::Line(kind_, counts, first_) << '\n';
        out_.flush();
        first_ = false;
        last_ = counts;
        // The bar has gone (its end of the pipe is closed): nobody reads the counts, so the
        // engine ends the regular way instead of checking for no one.
        if (!out_) // queued: the first line is printed before the event loop runs
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
    }

private:
    WatchFormat::Kind kind_;
    std::ostream& out_;
    bool first_ = true;
    UnreadCounts last_;
};

// Ends the program once nobody reads its standard output any more (the bar, or "head -1"
// behind a pipe, has gone): a failed write finds that out too, but only at the next change
// of the counts, which may never come. The thread sleeps in poll() until the pipe reports
// its reader gone or the object ends, so it costs no wake-ups.
class ReaderGoneWatch
{
public:
    explicit ReaderGoneWatch(int fd) : stop_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (stop_ < 0)
            return;
        thread_ = std::thread([this, fd] {
            pollfd p[2] = {{fd, 0, 0}, {stop_, POLLIN, 0}};
            for (;;) {
                const int n = ::poll(p, 2, -1);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 || p[1].revents != 0)
                    return;
                // No events asked for: only an error or hang-up (a pipe without reader, a
                // socket closed by its peer, a terminal gone) is reported.
                if ((p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                              Qt::QueuedConnection);
                    return;
                }
            }
        });
    }
    ~ReaderGoneWatch()
    {
        if (stop_ < 0)
            return;
        const uint64_t one = 1;
        ssize_t n = ::write(stop_, &one, sizeof one);
        (void)n; // a full counter already wakes the poll
        if (thread_.joinable())
            thread_.join();
        ::close(stop_);
    }
    ReaderGoneWatch(const ReaderGoneWatch&) = delete;
    ReaderGoneWatch& operator=(const ReaderGoneWatch&) = delete;

private:
    int stop_;
    std::thread thread_;
};

// The merge's view of the front: stored mail is counted by the feed; a check's end asks
// for a recount at once instead of at the next period; texts to show go to `err`.
class WatchTargets final : public HeaderListTarget,
                           public NotificationTarget,
                           public FrontWindowTarget
{
public:
    WatchTargets(UnreadCountFeed& feed, std::ostream& err) : feed_(feed), err_(err) {}
    void AddNewMessage(const std::string&, const StoredMessage&) override {}
    void RemoveNewMessages(const std::string&, const std::vector<std::string>&) override {}
    void Notify(const std::string&, int32_t, int32_t) override
    {
        QMetaObject::invokeMethod(&feed_, &UnreadCountFeed::Recount, Qt::QueuedConnection);
    }
    void ShowText(const std::string& text) override
    {
        err_ << "postwatch: " << PrintableText(text) << '\n';
        err_.flush();
    }
    void CheckAnimation(bool) override {}
    void Close() override {}

private:
    UnreadCountFeed& feed_;
    std::ostream& err_;
};

// The merge with one lock around every call, which the counting takes too: the counts read
// Message.box files that the merge thread appends to (see UnreadCounter).
class GuardedSink final : public CEngineSink
{
public:
    GuardedSink(CEngineSink& inner, std::mutex& lock) : inner_(inner), lock_(lock) {}
    int SendNewMessage(uint32_t kind, const MessageRecord& record) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return inner_.SendNewMessage(kind, record);
    }
    int SendExchangeMessage(const ExchangeMessageRecord& record) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return inner_.SendExchangeMessage(record);
    }
    int SendWebMailMessage(const WebMailMessageRecord& record) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return inner_.SendWebMailMessage(record);
    }
    int SendSummary(const CheckResultRecord& record) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return inner_.SendSummary(record);
    }
    int SendText(const CheckResultRecord& record) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return inner_.SendText(record);
    }
    int SendServerState(const ServerStateRecord& record) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return inner_.SendServerState(record);
    }
    int SendMailboxRenumbered(const std::string& account) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return inner_.SendMailboxRenumbered(account);
    }
    int SendCheckAnimation(bool on) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        return inner_.SendCheckAnimation(on);
    }
    void PostClose() override
    {
        std::lock_guard<std::mutex> guard(lock_);
        inner_.PostClose();
    }
    // Commits what waits, under the same lock.
    void CommitAll(CNewMailMerge& merge)
    {
        std::lock_guard<std::mutex> guard(lock_);
        merge.CommitAll();
    }

private:
    CEngineSink& inner_;
    std::mutex& lock_;
};

// The engine as the command line runs it, with no check requested: the schedules decide.
class HeadlessEngine
{
public:
    HeadlessEngine(UnreadCountFeed& feed, std::ostream& err)
        : feed_(feed), targets_(feed, err), merge_(*state_, &targets_, &targets_, &targets_),
          guarded_(merge_, storeLock_), sink_(std::make_shared<CMergeThreadSink>(guarded_))
    {
        feed.SetStoreLock(&storeLock_);
        // Nobody can answer a question here: a plug-in's "try again?" is answered Cancel, so
        // a refused Exchange log-on ends its check instead of repeating for ever.
        auto dialogue = std::make_shared<HeadlessDialogueBackend>();
        dialogue->SetAnswer(kDialogueIdCancel);
        SetDialogueBackend(dialogue);
        CCheckEngine::Parts parts;
        // Web-mail and Exchange accounts are checked here as in the desktop program.
        parts.accounts =
            std::make_shared<CAccountManager>(std::make_shared<LibraryAccountPlugins>());
        parts.state = state_;
        parts.sink = sink_;
        auto capabilities =
            std::make_shared<CCapabilityMemory>(CCapabilityMemory::Keep::InAccountFolder);
        parts.pop3 = std::make_shared<CProtocolCheck>(CProtocolCheck::Protocol::Pop3, capabilities);
        parts.imap4 =
            std::make_shared<CProtocolCheck>(CProtocolCheck::Protocol::Imap4, capabilities);
        parts.network = std::make_shared<CDialupNetwork>(sink_);
        parts.webMail = std::make_shared<PortalpostLibrary>();
        parts.exchange = exchange_;
        // Push accounts idle here as in the desktop program: a status bar learns of new mail
        // at once, not at the next scheduled check.
        auto routes = std::make_shared<RouteTableNetwork>();
        CPushScheduler::Parts push;
        push.accounts = parts.accounts;
        push.state = state_;
        push.networkUp = [routes] { return routes->AliveFlags() != 0; };
        parts.push = std::make_shared<CPushScheduler>(std::move(push));
        engine_ = std::make_unique<CCheckEngine>(std::move(parts));
        engine_->Start();
    }
    ~HeadlessEngine()
    {
        engine_->RequestExit();
        engine_->WaitEnded(std::chrono::milliseconds(kEngineEndMs));
        engine_.reset();
        // A watch left by a log-on that ended during the drain: the log-off waits for a
        // delivery under way, which the merge thread still handles, so it comes before the
        // sink stops.
        exchange_->LogoffIfLoggedOn();
        SetDialogueBackend(nullptr);
        sink_->Stop();
        guarded_.CommitAll(merge_);
        feed_.SetStoreLock(nullptr);
    }
    HeadlessEngine(const HeadlessEngine&) = delete;
    HeadlessEngine& operator=(const HeadlessEngine&) = delete;

private:
    UnreadCountFeed& feed_;
    std::shared_ptr<CEngineState> state_ = std::make_shared<CEngineState>();
    WatchTargets targets_;
    CNewMailMerge merge_;
    std::mutex storeLock_;
    GuardedSink guarded_;
    std::shared_ptr<CMergeThreadSink> sink_;
    std::shared_ptr<MapiprobeLibrary> exchange_ = std::make_shared<MapiprobeLibrary>(sink_);
    std::unique_ptr<CCheckEngine> engine_;
};

} // namespace

WatchMode::WatchMode(WatchFormat::Kind kind, std::ostream& out, std::ostream& err)
    : kind_(kind), out_(out), err_(err)
{
}

int WatchMode::Run(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // A closed standard output is seen as a failed write (above), not as SIGPIPE killing
    // the process in the middle of a check.
    std::signal(SIGPIPE, SIG_IGN);
    // Queued: quit() does nothing before the event loop runs, and some reasons to end are
    // found before it does.
    auto quitSoon = [] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    };
    CExitSignalNotifier exitSignals;
    QObject::connect(&exitSignals, &CExitSignalNotifier::exitRequested, &app,
                     [quitSoon](int) { quitSoon(); });

    LinePrinter printer(kind_, out_);
    std::unique_ptr<ReaderGoneWatch> readerGone;
    if (&out_ == &std::cout)
        readerGone = std::make_unique<ReaderGoneWatch>(STDOUT_FILENO);
    CSingleInstance instance;
    UnreadCountFeed feed;
    std::unique_ptr<HeadlessEngine> engine;
    int exitCode = 0;

    // Runs the engine here once nobody else does; false when the name is taken.
    auto takeOver = [&]() -> bool {
        if (instance.Listen() != CSingleInstance::Result::kFirst)
            return false;
        if (!AppPaths::MakeDirs(AppPaths::MailDir())) {
            err_ << "postwatch: cannot create the mail folder " << AppPaths::MailDir() << '\n';
            exitCode = 1;
            quitSoon();
            return true;
        }
        CRegSettings().Prepare();
        instance.AcceptWatchers(true);
        QObject::connect(&instance, &CSingleInstance::watcherAttached, &feed,
                         &UnreadCountFeed::Attach);
        QObject::connect(&feed, &UnreadCountFeed::changed, &feed,
                         [&] { printer.Print(feed.Counts()); });
        engine = std::make_unique<HeadlessEngine>(feed, err_);
        feed.Start();
        return true;
    };

    QLocalSocket source;
    source.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    QByteArray pending;
    bool answered = false;
    auto attach = [&]() -> bool {
        answered = false;
        pending.clear();
        source.connectToServer(instance.Name());
        if (!source.waitForConnected(CSingleInstance::kAnswerWaitMs))
            return false;
        source.write("postwatch/1 watch\n");
        return source.waitForBytesWritten(CSingleInstance::kAnswerWaitMs);
    };
    QObject::connect(&source, &QLocalSocket::readyRead, &app, [&] {
        pending += source.readAll();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end + 1);
            pending.remove(0, end + 1);
            UnreadCounts counts;
            if (!answered) {
                answered = line == kOk;
                if (!answered) {
                    err_ << "postwatch: the program running for this data folder does not "
                            "share its counts\n";
                    exitCode = 1;
                    source.abort();
                    quitSoon();
                    return;
                }
            } else if (line.startsWith(kCountsTag) &&
                       UnreadCountFeed::FromStreamLine(line.mid(qsizetype(sizeof kCountsTag) - 1),
                                                       counts)) {
                printer.Print(counts);
            }
        }
        if (pending.size() > kMaxStreamLine) {
            err_ << "postwatch: the running program sent a line too long to be counts\n";
            exitCode = 1;
            source.abort();
            quitSoon();
        }
    });
    QObject::connect(&source, &QLocalSocket::disconnected, &app, [&] {
        if (exitCode != 0 || QCoreApplication::closingDown())
            return;
        // The program we followed has ended: check here from now on.
        QMetaObject::invokeMethod(
            &app,
            [&] {
                if (!takeOver() && !attach()) {
                    err_ << "postwatch: the program running for this data folder went away\n";
                    exitCode = 1;
                    quitSoon();
                }
            },
            Qt::QueuedConnection);
    });

    if (!attach() && !takeOver() && !attach()) {
        err_ << "postwatch: cannot watch: neither runs a program here nor can one start\n";
        return 1;
    }
    app.exec();
    source.disconnect();
    source.abort();
    engine.reset(); // drains the checks; everything stored is committed
    return exitCode;
}
