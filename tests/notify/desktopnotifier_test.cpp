// Desktop notices against python3-dbusmock's notification server on a private session bus:
// what each Notify call carries (texts, icon, actions only where the server has them,
// category, one notice per account replaced by the next), the server's actions reaching
// the account they belong to (Mark as read marks the stored messages read), and the
// do-not-disturb property.
#include "accountreadmarker.h"
#include "desktopnotifier.h"
#include "mailboxfile.h"
#include "qttestapp.h"
#include "support/component.h"
#include "support/notifymockbus.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace
{

using Kind = DesktopNotifier::Kind;

const QStringList kActions = {"open", "Open", "mark-read", "Mark as read"};

struct NoticeRow {
    const char* name;
    bool server;
    const char* capabilities;
    Kind kind;
    bool shown;
    QStringList actions;
    const char* category;
    const char* body = "You have 2 new messages";
    const char* bodySent = "You have 2 new messages";
    std::string trustPin = "";
};
POSTWATCH_ROW_PRINTS_NAME(NoticeRow)

class NoticeTest : public ::testing::TestWithParam<NoticeRow>
{
protected:
    void SetUp() override { QtTestApp::Ensure(); }
};

std::unique_ptr<NotifyMockBus> StartBus(bool server, const char* capabilities)
{
    auto bus = std::make_unique<NotifyMockBus>();
    std::string why;
    if (!bus->Start(server, capabilities, &why))
        return nullptr;
    return bus;
}

TEST_P(NoticeTest, CallCarriesWhatTheServerNeeds)
{
    const NoticeRow& row = GetParam();
    auto bus = StartBus(row.server, row.capabilities);
    if (!bus)
        GTEST_SKIP() << MissingComponent("a private D-Bus with python3-dbusmock", "cannot start");
    DesktopNotifier notifier(bus->Connect("notice-" + QString(row.name)));
    EXPECT_EQ(notifier.Available(), row.server);
    ASSERT_EQ(notifier.Show("Work", row.kind, "New Mail", row.body, row.trustPin), row.shown);
    if (!row.server)
        return;
    const std::vector<QVariantList> calls = bus->NotifyCalls();
    ASSERT_EQ(calls.size(), 1u);
    const QVariantList& a = calls.front();
    ASSERT_EQ(a.size(), 8);
    EXPECT_EQ(a[0].toString(), "Postwatch");
    EXPECT_EQ(a[1].toUInt(), 0u); // nothing to replace yet
    EXPECT_EQ(a[2].toString(), DesktopNotifier::kAppIcon);
    EXPECT_EQ(a[3].toString(), "New Mail");
    EXPECT_EQ(a[4].toString(), row.bodySent);
    EXPECT_EQ(qdbus_cast<QStringList>(a[5]), row.actions);
    EXPECT_EQ(qdbus_cast<QVariantMap>(a[6]).value("category").toString(), row.category);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, NoticeTest,
    ::testing::Values(
        NoticeRow{"new_mail_with_actions", true, "actions body", Kind::NewMail, true, kActions,
                  "email.arrived"},
        NoticeRow{"server_without_actions", true, "body", Kind::NewMail, true, {}, "email.arrived"},
        NoticeRow{"failure_has_no_actions", true, "actions body", Kind::Failure, true, {}, "email"},
        NoticeRow{"refused_certificate_offers_trust",
                  true,
                  "actions body",
                  Kind::Failure,
                  true,
                  {"trust", "Trust this certificate for this account"},
                  "email",
                  "You have 2 new messages",
                  "You have 2 new messages",
                  std::string(64, 'a')},
        NoticeRow{"trust_needs_the_actions_capability",
                  true,
                  "body",
                  Kind::Failure,
                  true,
                  {},
                  "email",
                  "You have 2 new messages",
                  "You have 2 new messages",
                  std::string(64, 'a')},
        NoticeRow{"summary", true, "actions body", Kind::Summary, true, {}, "email.arrived"},
        NoticeRow{"no_server_is_not_shown", false, "", Kind::NewMail, false, {}, ""},
        NoticeRow{"markup_server_gets_the_name_escaped",
                  true,
                  "body body-markup",
                  Kind::NewMail,
                  true,
                  {},
                  "email.arrived",
                  "New in <b>A&B</b>",
                  "New in &lt;b&gt;A&amp;B&lt;/b&gt;"},
        NoticeRow{"plain_server_gets_the_name_as_is",
                  true,
                  "body",
                  Kind::NewMail,
                  true,
                  {},
                  "email.arrived",
                  "New in <b>A&B</b>",
                  "New in <b>A&B</b>"}),
    [](const auto& info) { return std::string(info.param.name); });

// Runs the event loop until `done` or a generous limit for a mock that never answers.
template <class F> bool Until(F done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class NoticeFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QtTestApp::Ensure();
        bus_ = StartBus(true, "actions body");
        if (!bus_)
            GTEST_SKIP() << MissingComponent("a private D-Bus with python3-dbusmock",
                                             "cannot start");
    }
    std::unique_ptr<NotifyMockBus> bus_;
};

TEST_F(NoticeFlowTest, EachAccountReplacesItsOwnNoticeAndActionsReachIt)
{
    DesktopNotifier notifier(bus_->Connect("flow"));
    ASSERT_TRUE(notifier.Show("Work", Kind::NewMail, "New Mail", "one"));
    ASSERT_TRUE(notifier.Show("Home", Kind::NewMail, "New Mail", "two"));
    ASSERT_TRUE(notifier.Show("Work", Kind::NewMail, "New Mail", "three"));
    const std::vector<QVariantList> calls = bus_->NotifyCalls();
    ASSERT_EQ(calls.size(), 3u);
    const uint work = 1;                   // the mock numbers notices from 1
    EXPECT_EQ(calls[1][1].toUInt(), 0u);   // Home: its first
    EXPECT_EQ(calls[2][1].toUInt(), work); // Work again: replaces its first

    TempDir dir;
    const std::string box = dir.File("Message.box");
    {
        CMailBoxFile file;
        ASSERT_EQ(file.Open(box), 1);
        for (const char* id : {"a", "b"}) {
            StoredMessage m;
            m.messageId = id;
            m.mailType = "IMAP4";
            m.read = "No";
            ASSERT_EQ(file.Append(m), 1);
        }
    }
    std::vector<std::string> opened;
    int marked = -2;
    QObject::connect(&notifier, &DesktopNotifier::openRequested,
                     [&](const QString& account) { opened.push_back(account.toStdString()); });
    QObject::connect(&notifier, &DesktopNotifier::markReadRequested, [&](const QString& account) {
        std::string error;
        if (account == "Work")
            marked = AccountReadMarker::MarkAllRead(box, &error);
    });

    bus_->InvokeAction(999, "open"); // not ours: ignored
    bus_->InvokeAction(2, "open");   // Home's notice
    ASSERT_TRUE(Until([&] { return !opened.empty(); }));
    EXPECT_EQ(opened, std::vector<std::string>{"Home"});
    bus_->InvokeAction(work, "mark-read");
    ASSERT_TRUE(Until([&] { return marked != -2; }));
    EXPECT_EQ(marked, 2);
    std::string error;
    EXPECT_EQ(AccountReadMarker::MarkAllRead(box, &error), 0); // nothing left unread
    EXPECT_EQ(AccountReadMarker::MarkAllRead(dir.File("none/Message.box"), &error), 0);
}

// "Trust" reaches the account with the fingerprint its own notice offered; a notice that
// replaced it, or offered nothing, trusts nothing.
TEST_F(NoticeFlowTest, TrustCarriesTheFingerprintOfItsNotice)
{
    DesktopNotifier notifier(bus_->Connect("trust"));
    const std::string first(64, 'a'), second(64, 'b');
    ASSERT_TRUE(notifier.Show("Work", Kind::Failure, "Work", "refused", first));    // id 1
    ASSERT_TRUE(notifier.Show("Home", Kind::Failure, "Home", "refused", second));   // id 2
    ASSERT_TRUE(notifier.Show("Home", Kind::Failure, "Home", "no connection", "")); // replaces 2
    std::vector<std::string> trusted;
    QObject::connect(&notifier, &DesktopNotifier::trustRequested,
                     [&](const QString& account, const QString& pin) {
                         trusted.push_back(account.toStdString() + " " + pin.toStdString());
                     });
    bus_->InvokeAction(2, "trust"); // Home's notice offers nothing any more
    bus_->InvokeAction(1, "trust");
    ASSERT_TRUE(Until([&] { return !trusted.empty(); }));
    EXPECT_EQ(trusted, std::vector<std::string>{"Work " + first});
}

TEST_F(NoticeFlowTest, DoNotDisturbWhereTheServerHasIt)
{
    DesktopNotifier notifier(bus_->Connect("inhibit"));
    EXPECT_EQ(notifier.Inhibited(), std::nullopt); // the template has no such property
    bus_->SetInhibited(true);
    EXPECT_EQ(notifier.Inhibited(), std::optional<bool>(true));
}

} // namespace
