// The server page's OAuth 2.0 sign-in against the simulated authorization server
// (tests/fakes/oauthserver.py), the test playing the browser: refusals keep the wizard on
// the page, and a finished sign-in makes Finish create the account as the command line's
// --add-account --oauth does, with no token anywhere in what the program shows or prints.

#include "accountfile.h"
#include "apppaths.h"
#include "dialogtestsupport.h"
#include "fakeoauthserver.h"
#include "oauthprovider.h"
#include "oauthsigninrunner.h"
#include "oauthstate.h"
#include "providersettings.h"
#include "settingslookup.h"
#include "support/component.h"
#include "wizardtestsupport.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace
{

const char kClientId[] = "postwatch-test-client";

// Everything the process writes to stdout and stderr while the object lives.
class OutputCapture
{
public:
    explicit OutputCapture(const std::string& path) : path_(path)
    {
        std::fflush(nullptr);
        const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        for (int fd : {1, 2}) {
            saved_[fd - 1] = ::dup(fd);
            ::dup2(file, fd);
        }
        ::close(file);
    }
    ~OutputCapture() { Stop(); }
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    std::string Stop()
    {
        if (saved_[0] >= 0) {
            std::fflush(nullptr);
            for (int fd : {1, 2}) {
                ::dup2(saved_[fd - 1], fd);
                ::close(saved_[fd - 1]);
                saved_[fd - 1] = -1;
            }
        }
        std::ifstream in(path_);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string path_;
    int saved_[2] = {-1, -1};
};

class WizardOAuth : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        if (!oauth_.Start(kClientId, &error))
            GTEST_SKIP() << MissingComponent("python3 authorization server", error);
        // "Alpha" comes first in the list and cannot sign in: no client id.
        for (const auto& [name, clientId] :
             {std::pair{"Alpha", ""}, std::pair{"Test", kClientId}}) {
            OAuthProvider provider{name,
                                   oauth_.BaseUrl() + "/authorize",
                                   oauth_.BaseUrl() + "/token",
                                   clientId,
                                   "",
                                   "mail",
                                   "XOAUTH2",
                                   "",
                                   std::string(name) == "Test" ? "oauth.test" : "",
                                   std::string(name) == "Test" ? "127.0.0.1:9993" : "",
                                   ""};
            ASSERT_EQ(OAuthProviders::Write(provider), 1);
        }
    }

    // Step 1 with an address at the provider's domain, its look-up finished, then Next.
    CWizardStep2Server* ReachServerPage(CAccountWizard& wizard)
    {
        auto sources = std::make_shared<DiscoverySources>();
        sources->providers = KnownProviderServers;
        wizard.Step1()->Lookup()->SetSources(sources);
        wizard.show();
        wizard.Step1()->NameEdit()->setText("Mail");
        QSignalSpy found(wizard.Step1(), &CWizardStep1::SettingsFound);
        QTest::keyClicks(wizard.Step1()->AddressEdit(), "alice@oauth.test");
        EXPECT_TRUE(found.wait(5000));
        wizard.next();
        EXPECT_EQ(wizard.currentId(), CAccountWizard::kStepImap4);
        return static_cast<CWizardStep2Server*>(wizard.currentPage());
    }

    // Clicks "Sign in..." and waits for the sign-in's end; false when it did not start.
    static bool SignIn(CWizardStep2Server* page)
    {
        QSignalSpy finished(page->SignInRunner(), &COAuthSignInRunner::Finished);
        page->SignInButton()->click();
        if (!page->SignInRunner()->Running())
            return false;
        EXPECT_TRUE(finished.wait(20000));
        return true;
    }

    UiSandbox sandbox_;
    FakeOAuthServer oauth_;
};

TEST_F(WizardOAuth, RefusalsKeepTheWizardOnThePage)
{
    struct Row {
        const char* name;
        const char* provider;
        bool cancel;       // the browser never answers; Cancel is pressed
        bool started;      // the sign-in ran
        const char* state; // the page's sign-in line afterwards
    } rows[] = {
        {"not-signed-in", "", false, false, ""},
        {"no-client-id", "Alpha", false, false,
         "Sign-in failed: the OAuth 2.0 provider \"Alpha\" has no ClientId"},
        {"cancelled", "Test", true, true, "Sign-in failed: the sign-in was cancelled"},
    };
    for (const Row& r : rows) {
        CAccountManager table;
        CAccountWizard wizard(&table, nullptr);
        CWizardStep2Server* page = ReachServerPage(wizard);
        ASSERT_NE(page, nullptr) << r.name;
        page->SignInList()->setCurrentIndex(1);
        EXPECT_FALSE(page->PasswordEdit()->isEnabled()) << r.name;
        int opened = 0;
        page->SignInRunner()->SetBrowserOpener([&](const std::string&) { ++opened; });
        if (*r.provider) {
            page->ProviderList()->setCurrentText(r.provider);
            if (r.cancel)
                QTimer::singleShot(300, page->CancelSignInButton(), &QPushButton::click);
            EXPECT_EQ(SignIn(page), r.started) << r.name;
        }
        EXPECT_EQ(opened, r.started ? 1 : 0) << r.name;
        const std::string state = page->SignInState()->text().toStdString();
        EXPECT_EQ(state.rfind(r.state, 0), 0u) << r.name << ": " << state;
        sandbox_.dialogue->calls.clear();
        wizard.next();
        EXPECT_EQ(wizard.currentId(), CAccountWizard::kStepImap4) << r.name;
        ASSERT_EQ(sandbox_.dialogue->calls.size(), 1u) << r.name;
        EXPECT_EQ(sandbox_.dialogue->calls[0].text, "Sign in with the provider first.") << r.name;
    }
}

TEST_F(WizardOAuth, FinishCreatesTheSignedInAccount)
{
    OutputCapture output(sandbox_.Dir().File("output"));
    std::vector<std::string> shown;
    OAuthSignIn::Tokens tokens;
    {
        CAccountManager table;
        CAccountWizard wizard(&table, nullptr);
        CWizardStep2Server* page = ReachServerPage(wizard);
        ASSERT_NE(page, nullptr);
        // The look-up found the provider by the address's domain.
        EXPECT_EQ(page->ProviderList()->currentText(), "Test");
        EXPECT_EQ(page->ServerEdit()->text(), "127.0.0.1");
        page->SignInList()->setCurrentIndex(1);
        int status = 0;
        page->SignInRunner()->SetBrowserOpener(
            [&](const std::string& url) { status = FakeOAuthServer::FollowSignIn(url); });
        ASSERT_TRUE(SignIn(page));
        EXPECT_EQ(status, 200);
        EXPECT_EQ(page->SignInState()->text(), "Signed in with Test.");
        EXPECT_FALSE(page->PasswordEdit()->isEnabled());
        tokens = page->SignInRunner()->Tokens();
        wizard.next();
        ASSERT_EQ(wizard.currentId(), CAccountWizard::kStep3);
        wizard.button(QWizard::FinishButton)->click();
        EXPECT_EQ(wizard.CreatedName(), "Mail");
        for (const QLabel* label : wizard.findChildren<QLabel*>())
            shown.push_back(label->text().toStdString());
    }
    const std::string printed = output.Stop();
    ASSERT_FALSE(tokens.refreshToken.empty());
    ASSERT_FALSE(tokens.accessToken.empty());

    AccountRecord record;
    record.name = "Mail";
    ASSERT_EQ(CAccountFile::ReadAccountFile(AppPaths::AccountFile("Mail"), record), 1);
    EXPECT_EQ(record.signIn, kSignInOAuth2);
    EXPECT_EQ(record.password, tokens.refreshToken);
    EXPECT_EQ(record.userName, "alice@oauth.test");
    OAuthState state;
    ASSERT_EQ(OAuthState::Load("Mail", state), 1);
    EXPECT_EQ(state.provider, "Test");
    EXPECT_EQ(state.accessToken, tokens.accessToken);
    EXPECT_FALSE(state.needsSignIn);

    for (const auto& call : sandbox_.dialogue->calls)
        shown.push_back(call.text);
    shown.push_back(printed);
    for (const std::string& text : shown)
        for (const std::string& secret : {tokens.refreshToken, tokens.accessToken})
            EXPECT_EQ(text.find(secret), std::string::npos) << text;
}

} // namespace
