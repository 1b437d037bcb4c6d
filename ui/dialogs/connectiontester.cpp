#include "connectiontester.h"

#include "checksink.h"
#include "dialogtext.h"
#include "imap4client.h"
#include "pop3client.h"

#include <unordered_set>

namespace
{

// The list-only request hands nothing to the sink.
class NoSink : public CheckSink
{
public:
    void DeliverMessage(int, const MessageRecord&) override {}
};

// Keep every message: a trial must never delete or hide anything on the server.
int KeepAll(const std::string&, const std::string&)
{
    return 0;
}

} // namespace

CConnectionTester::CConnectionTester(QObject* parent) : QObject(parent)
{
}

CConnectionTester::~CConnectionTester()
{
    if (thread_.joinable())
        thread_.join();
}

bool CConnectionTester::Start(const Target& target)
{
    if (running_)
        return false;
    if (thread_.joinable())
        thread_.join();
    running_ = true;
    thread_ = std::thread([this, target] {
        NoSink sink;
        int count = 0;
        CheckRequest request;
        request.server = target.server;
        request.port = target.port;
        request.security = target.security;
        request.userName = target.userName;
        request.password = target.password;
        request.pin = target.pin;
        request.saslMechanism = target.saslMechanism;
        request.timeOutSeconds = kTimeoutSeconds;
        request.recordExisting = [&count](std::vector<std::string> uids) {
            count = static_cast<int>(uids.size());
        };
        CheckReport report;
        bool idle = false;
        if (target.kind == "IMAP4") {
            Imap4Client client;
            client.SetFilter(KeepAll, false);
            report = client.CheckImap4Account(sink, request);
            for (const std::string& capability : client.LearnedCapabilities())
                idle = idle || capability == "IDLE";
        } else {
            Pop3Client client;
            client.SetFilter(KeepAll, false);
            report = client.CheckPop3Account(sink, request);
        }
        const int result = report.result;
        const std::string message = report.message;
        const bool ok = result == kCheckDone;
        const QString text =
            ok ? DlgText::Fill(DlgText::Text(DlgText::kTestPassed), QString::number(count))
               : DlgText::Fill(DlgText::Text(DlgText::kTestFailed),
                               QString::fromStdString(message));
        // The queued call is dropped if the tester is destroyed first; the destructor joins
        // this thread, so `this` is alive while it is posted.
        QMetaObject::invokeMethod(
            this,
            [this, ok, text, idle, count, refused = report.certificate] {
                offeredIdle_ = ok && idle;
                messageCount_ = ok ? count : -1;
                refused_ = refused;
                running_ = false;
                emit Finished(ok, text);
            },
            Qt::QueuedConnection);
    });
    return true;
}
