// Trusting a server's own certificate from the desktop, against a private Dovecot whose
// certificate no trusted authority signed: the wizard's test is refused and offers the
// certificate, trusting it passes the test and the new account keeps the fingerprint; the
// properties dialog shows it and forgets it.
#include "accountpropertiesdlg.h"
#include "accountwizard.h"
#include "apppaths.h"
#include "certificatepin.h"
#include "certificatepinfield.h"
#include "certificatetrustoffer.h"
#include "connectiontester.h"
#include "dialogtestsupport.h"
#include "dovecotenvironment.h"
#include "support/tempdir.h"
#include "testpki.h"
#include "wizardstep2imap4.h"
#include "wizardtestsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

// Clicks `button` and waits for the tester's verdict.
bool TestOnce(CConnectionTester* tester, QPushButton* button)
{
    QSignalSpy spy(tester, &CConnectionTester::Finished);
    button->click();
    return spy.wait(30000) && spy.at(0).at(0).toBool();
}

TEST(CertificateTrust, WizardOffersTrustsAndTheAccountKeepsThePin)
{
    DovecotFixture* d = DovecotEnvironment::Get();
    if (d == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    UiSandbox sandbox;
    TempDir other;
    TestPki stranger(other.Path(), "Some Other CA");
    ASSERT_TRUE(stranger.Ok());
    ScopedEnv untrusted("SSL_CERT_FILE", stranger.CaFile());

    CAccountManager table;
    CAccountWizard wizard(&table, nullptr);
    wizard.show();
    ASSERT_TRUE(PassStep1(wizard, "Own", "IMAP4"));
    CWizardStep2Server* page = wizard.Imap4Page();
    page->SecurityList()->setCurrentIndex(0); // TLS
    page->PortEdit()->setText(QString::number(d->ImapsPort()));
    FillServer(page, "127.0.0.1", "alice", "alice-pass");
    CertificateTrustOffer* offer = page->TrustOffer();

    // Refused: the offer names the certificate, fingerprint in the form viewers show it.
    EXPECT_FALSE(TestOnce(page->Tester(), page->TestButton()));
    const std::string pin = page->Tester()->RefusedCertificate().sha256;
    ASSERT_EQ(pin.size(), kPinDigits);
    EXPECT_FALSE(offer->isHidden());
    EXPECT_EQ(offer->Heading()->text().toStdString(), "The server's certificate is not trusted.");
    EXPECT_EQ(offer->TrustButton()->text().toStdString(),
              "Trust this certificate for this account");
    const std::string details = offer->Details()->text().toStdString();
    for (const std::string& part :
         {std::string("Subject: "), std::string("Issuer: "), std::string("Postwatch Test CA"),
          std::string("Valid: "), std::string(" until "), "SHA-256: " + PinForReading(pin)})
        EXPECT_NE(details.find(part), std::string::npos) << part << " in " << details;
    EXPECT_TRUE(page->Pin().empty());

    // Trusted: the test runs again by itself and passes.
    QSignalSpy again(page->Tester(), &CConnectionTester::Finished);
    offer->TrustButton()->click();
    ASSERT_TRUE(again.wait(30000));
    EXPECT_TRUE(again.at(0).at(0).toBool()) << page->TestResult()->text().toStdString();
    EXPECT_TRUE(offer->isHidden());
    EXPECT_EQ(page->Pin(), pin);

    wizard.next();
    ASSERT_EQ(wizard.currentId(), CAccountWizard::kStep3);
    wizard.accept();
    ASSERT_EQ(wizard.result(), QDialog::Accepted);
    const std::string inf = ReadWholeFile(AppPaths::AccountFile("Own"));
    EXPECT_NE(inf.find("\r\nPin=" + pin + "\r\nPassword="), std::string::npos) << inf;

    // The properties dialog shows the trusted certificate, tests with it, and forgets it.
    {
        CAccountPropertiesDlg dlg(&table, "Own");
        CertificatePinField* field = dlg.PinField();
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->PinLabel()->text().left(8).toStdString(), PinForReading(pin).substr(0, 8));
        EXPECT_TRUE(TestOnce(field->Tester(), field->TestButton()))
            << field->TestResult()->text().toStdString();
        field->ForgetButton()->click();
        EXPECT_EQ(field->PinLabel()->text().toStdString(), "the system's trusted authorities");
        EXPECT_FALSE(TestOnce(field->Tester(), field->TestButton()));
        EXPECT_FALSE(field->TrustOffer()->isHidden());
        dlg.accept();
        ASSERT_EQ(dlg.result(), QDialog::Accepted);
    }
    EXPECT_EQ(ReadWholeFile(AppPaths::AccountFile("Own")).find("Pin="), std::string::npos);
}

} // namespace
