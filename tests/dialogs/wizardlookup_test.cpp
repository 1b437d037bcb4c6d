// The wizard's e-mail address: typing it looks up the server settings (through a stub DNS)
// and fills the step-2 page; the user's own entries win; Back stops a look-up at once.

#include "core/autoconfig/srvpacket.h"
#include "dialogtestsupport.h"
#include "settingslookup.h"
#include "wizardstep2imap4.h"
#include "wizardstep2pop3.h"
#include "wizardtestsupport.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace
{

// Answers _imaps._tcp.example.test and _pop3._tcp.example.test; holds every answer until
// Open() when made closed.
class GatedDns final : public DnsQuery
{
public:
    explicit GatedDns(bool open) : open_(open) {}
    bool QuerySrv(const std::string& name, std::vector<unsigned char>* answer) override
    {
        std::unique_lock<std::mutex> guard(lock_);
        opened_.wait_for(guard, std::chrono::seconds(5), [this] { return open_; });
        if (name == "_imaps._tcp.example.test")
            *answer = srvpacket::Answer(name, {{0, 0, 993, "mail.example.test"}});
        else if (name == "_pop3._tcp.example.test")
            *answer = srvpacket::Answer(name, {{0, 0, 110, "pop.example.test"}});
        else
            *answer = srvpacket::Answer(name, {}, 3);
        return true;
    }
    void Open()
    {
        std::lock_guard<std::mutex> guard(lock_);
        open_ = true;
        opened_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable opened_;
    bool open_;
};

std::shared_ptr<const DiscoverySources> Sources(std::shared_ptr<DnsQuery> dns)
{
    auto sources = std::make_shared<DiscoverySources>();
    sources->dns = std::move(dns);
    return sources;
}

TEST(WizardLookup, TypingAnAddressFillsTheServerPage)
{
    struct Row {
        const char* name;
        const char* kindByHand; // chosen in the list before the look-up ends, or ""
        int page;
        const char* server;
        const char* port;
        int security; // row of the security list
    } rows[] = {
        {"kind-follows-the-look-up", "", CAccountWizard::kStepImap4, "mail.example.test", "993", 0},
        {"kind-chosen-by-hand-stays", "POP3", CAccountWizard::kStepPop3, "pop.example.test", "110",
         1},
    };
    for (const Row& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        CAccountWizard wizard(&table, nullptr);
        wizard.Step1()->Lookup()->SetSources(Sources(std::make_shared<GatedDns>(true)));
        wizard.show();
        wizard.Step1()->NameEdit()->setText("Home");
        if (*r.kindByHand) {
            QComboBox* list = wizard.Step1()->KindList();
            list->setCurrentIndex(list->findData(QString::fromUtf8(r.kindByHand)));
            emit list->activated(list->currentIndex());
        }
        QSignalSpy found(wizard.Step1(), &CWizardStep1::SettingsFound);
        QTest::keyClicks(wizard.Step1()->AddressEdit(), "dora@Example.test");
        ASSERT_TRUE(found.wait(5000)) << r.name;
        EXPECT_EQ(wizard.Step1()->LookupStatus()->text(), "Server settings found for example.test.")
            << r.name;
        wizard.next();
        ASSERT_EQ(wizard.currentId(), r.page) << r.name;
        auto* page = static_cast<CWizardStep2Server*>(wizard.currentPage());
        EXPECT_EQ(page->ServerEdit()->text(), r.server) << r.name;
        EXPECT_EQ(page->PortEdit()->text(), r.port) << r.name;
        EXPECT_EQ(page->SecurityList()->currentIndex(), r.security) << r.name;
        EXPECT_EQ(page->UserEdit()->text(), "dora@example.test") << r.name;
        EXPECT_TRUE(page->ServerEdit()->isEnabled()) << r.name;

        // The user's own server survives Back and Next.
        page->ServerEdit()->setText("own.example.test");
        wizard.back();
        wizard.next();
        EXPECT_EQ(page->ServerEdit()->text(), "own.example.test") << r.name;
        EXPECT_EQ(page->UserEdit()->text(), "dora@example.test") << r.name;
    }
}

TEST(WizardLookup, BackStopsARunningLookUpAtOnce)
{
    UiSandbox sandbox;
    CAccountManager table;
    CAccountWizard wizard(&table, nullptr);
    auto dns = std::make_shared<GatedDns>(false);
    wizard.Step1()->Lookup()->SetSources(Sources(dns));
    wizard.show();
    wizard.Step1()->NameEdit()->setText("Home");
    SelectKind(wizard, "IMAP4");
    wizard.Step1()->AddressEdit()->setText("erin@example.test");
    wizard.next(); // Next starts the look-up at once, without the typing pause
    ASSERT_EQ(wizard.currentId(), CAccountWizard::kStepImap4);
    EXPECT_TRUE(wizard.Step1()->Lookup()->Running());
    EXPECT_EQ(wizard.Imap4Page()->TestResult()->text(),
              "Looking up the server settings of example.test...");

    wizard.back();
    EXPECT_FALSE(wizard.Step1()->Lookup()->Running());
    QSignalSpy found(wizard.Step1(), &CWizardStep1::SettingsFound);
    dns->Open();
    EXPECT_FALSE(found.wait(500));
    // Without an address nothing is looked up and the page stays as it was.
    wizard.Step1()->AddressEdit()->clear();
    wizard.next();
    EXPECT_TRUE(wizard.Imap4Page()->ServerEdit()->text().isEmpty());
}

} // namespace
