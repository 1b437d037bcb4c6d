// Crash-test helper: stores or removes messages in a Message.box while a test kills it.
//
//   mailbox_crash_helper append <Message.box> <UID.inf> <count> <arm-after> <step>
//       Opens the store, prints "start <n>" (its record count), then for i in 0..count-1
//       stores CrashMessage(n + i), prints "ack <n+i>" once Append has returned, and adds
//       its identifier to UID.inf. Before the message number arm-after it arms the crash
//       point `step` (or never, when arm-after is negative).
//   mailbox_crash_helper delete <Message.box> <UID.inf> <index> <arm-after> <step>
//       Arms `step`, then removes the record CrashMessage(index); prints "deleted".
//
//   mailbox_crash_helper forget <Message.box> <UID.inf> <unused> <arm-after> <step>
//       Arms `step`, then empties the identifiers of the IMAP4 records (ForgetUids);
//       prints "forgot".
//
//   mailbox_crash_helper cutback <Message.box> <UID.inf> <count> <arm-after> <step>
//       Stores `count` more messages, arms `step`, then takes them back out (CutBack to
//       where the store ended before); prints "cut".
//
//   mailbox_crash_helper merge <data folder> <account> <count> <arm-after> <step>
//       Feeds CrashMessage(n + i) for i in 0..count-1 to the new-mail merge as POP3 records
//       of `account` (data folder as POSTWATCH_HOME), printing "ack <n+i>" once each send
//       has returned, and sends the account's summary after every third message and at
//       the end, printing "committed <n+i>" afterwards. Arms `step` before the message
//       number arm-after.
//
//   mailbox_crash_helper check <data folder> <account> <count> <arm-after> <step>
//       Runs one whole check of the POP3 account `account` (made when missing) as the
//       engine does, against a server holding CrashMessage(0..count-1) that reports the
//       messages whose identifiers the check does not know, printing "ack <i>" after each
//       has been delivered and "checked" at the end. Arms `step` before message arm-after.
//
// Exit codes: 0 done, 2 the store did not open, 3 a store operation failed.
#include "mailbox_crash_helper.h"

#include "accountcheck.h"
#include "accountfile.h"
#include "accountmanager.h"
#include "accountrecord.h"
#include "apppaths.h"
#include "checkcancel.h"
#include "checkrecords.h"
#include "checkservices.h"
#include "crashpoint.h"
#include "enginestate.h"
#include "mailboxfile.h"
#include "mergethreadsink.h"
#include "newmailmerge.h"
#include "protocolcheck.h"
#include "uidfile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

int Merge(const std::string& home, const std::string& account, long count, long armAfter,
          const char* step)
{
    ::setenv("POSTWATCH_HOME", home.c_str(), 1);
    if (!AppPaths::MakeDirs(AppPaths::AccountDir(account)))
        return 2;
    unsigned start = 0;
    {
        CMailBoxFile box;
        if (!box.Open(AppPaths::MailBoxFile(account))) {
            std::fprintf(stderr, "%s\n", box.LastError().c_str());
            return 2;
        }
        start = box.Count();
    }
    std::printf("start %u\n", start);
    std::fflush(stdout);
    CEngineState state;
    CNewMailMerge merge(state, nullptr, nullptr, nullptr);
    CheckResultRecord summary;
    summary.result = 4;
    summary.account = account;
    for (long i = 0; i < count; ++i) {
        if (i == armAfter)
            ::setenv("POSTWATCH_CRASH_AT", step, 1);
        const StoredMessage m = CrashMessage(start + static_cast<unsigned>(i));
        MessageRecord r;
        r.sender = m.sender;
        r.subject = m.subject;
        r.date = m.date;
        r.size = m.size;
        r.preview = m.preview;
        r.attachment = m.attachment;
        r.uid = m.uid;
        r.account = account;
        merge.SendNewMessage(CopyDataKind::kPop3Message, r);
        std::printf("ack %lu\n", start + i);
        std::fflush(stdout);
        if (i % 3 == 2 || i + 1 == count) {
            merge.SendSummary(summary);
            std::printf("committed %lu\n", start + i);
            std::fflush(stdout);
        }
    }
    return merge.PendingAccounts() == 0 ? 0 : 3;
}

// Plays a server that holds messages 0..count-1 and reports those whose identifier the
// check does not know, as a POP3 client does.
class CrashServer final : public ProtocolCheck
{
public:
    CrashServer(long count, long armAfter, const char* step)
        : count_(count), armAfter_(armAfter), step_(step)
    {
    }
    int Run(const CheckRequest& p, CEngineSink& sink, int32_t& newCount, CCheckCancel&, Closing&,
            std::string&, PeerCertificate&) override
    {
        for (long i = 0; i < count_; ++i) {
            if (i == armAfter_)
                ::setenv("POSTWATCH_CRASH_AT", step_, 1);
            const StoredMessage m = CrashMessage(static_cast<unsigned>(i));
            if (p.knownUids.count(m.uid))
                continue;
            MessageRecord r;
            r.sender = m.sender;
            r.subject = m.subject;
            r.date = m.date;
            r.size = m.size;
            r.preview = m.preview;
            r.attachment = m.attachment;
            r.uid = m.uid;
            r.account = p.account;
            sink.SendNewMessage(CopyDataKind::kPop3Message, r);
            ++newCount;
            std::printf("ack %ld\n", i);
            std::fflush(stdout);
        }
        return CheckResult::kDone;
    }

private:
    long count_, armAfter_;
    const char* step_;
};

// One whole check of `account` against a CrashServer, as the engine runs it.
int Check(const std::string& home, const std::string& account, long count, long armAfter,
          const char* step)
{
    ::setenv("POSTWATCH_HOME", home.c_str(), 1);
    if (!AppPaths::MakeDirs(AppPaths::AccountDir(account)))
        return 2;
    AccountRecord record;
    record.name = account;
    record.mailType = "POP3";
    if (CAccountFile::WriteAccountFile(AppPaths::AccountFile(account), record) != 1)
        return 2;
    auto accounts = std::make_shared<CAccountManager>();
    accounts->WithTable([&](std::vector<AccountEntry>& rows) {
        AccountEntry e;
        e.name = account;
        e.checkState = CheckState::Busy;
        rows.push_back(e);
    });
    auto state = std::make_shared<CEngineState>();
    state->checkingEnabled = 1;
    CNewMailMerge merge(*state, nullptr, nullptr, nullptr);
    auto sink = std::make_shared<CMergeThreadSink>(merge);
    CheckServices services;
    services.accounts = accounts;
    services.state = state;
    services.sink = sink;
    services.pop3 = std::make_shared<CrashServer>(count, armAfter, step);
    services.readTimeOut = [] { return std::optional<int>(30); };
    {
        CAccountCheck checks(services);
        checks.StartCheck(account);
        if (!checks.WaitAll(std::chrono::seconds(120)))
            return 3;
    }
    sink->Stop();
    std::printf("checked\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s append|delete box uidinf count arm-after step\n", argv[0]);
        return 1;
    }
    const std::string mode = argv[1];
    const long count = std::atol(argv[4]);
    const long armAfter = std::atol(argv[5]);
    if (mode == "merge")
        return Merge(argv[2], argv[3], count, armAfter, argv[6]);
    if (mode == "check")
        return Check(argv[2], argv[3], count, armAfter, argv[6]);
    CMailBoxFile box;
    if (!box.Open(argv[2])) {
        std::fprintf(stderr, "%s\n", box.LastError().c_str());
        return 2;
    }
    const unsigned start = box.Count();
    std::printf("start %u\n", start);
    std::fflush(stdout);
    if (mode == "cutback") {
        const CMailBoxFile::Mark mark = box.End();
        for (long i = 0; i < count; ++i)
            if (!box.Append(CrashMessage(start + static_cast<unsigned>(i))))
                return 3;
        ::setenv("POSTWATCH_CRASH_AT", argv[6], 1);
        if (!box.CutBack(mark))
            return 3;
        std::printf("cut\n");
        return 0;
    }
    if (mode == "forget") {
        ::setenv("POSTWATCH_CRASH_AT", argv[6], 1);
        if (!box.ForgetUids("IMAP4"))
            return 3;
        std::printf("forgot\n");
        return 0;
    }
    if (mode == "delete") {
        ::setenv("POSTWATCH_CRASH_AT", argv[6], 1);
        if (!box.Delete(CrashMessage(static_cast<unsigned>(count)).messageId))
            return 3;
        std::printf("deleted\n");
        return 0;
    }
    for (long i = 0; i < count; ++i) {
        if (i == armAfter)
            ::setenv("POSTWATCH_CRASH_AT", argv[6], 1);
        const StoredMessage m = CrashMessage(start + static_cast<unsigned>(i));
        if (!box.Append(m)) {
            std::fprintf(stderr, "%s\n", box.LastError().c_str());
            return 3;
        }
        std::printf("ack %lu\n", start + i);
        std::fflush(stdout);
        CrashPoint("merge.between");
        if (!AppendUid(argv[3], m.uid))
            return 3;
    }
    return 0;
}
