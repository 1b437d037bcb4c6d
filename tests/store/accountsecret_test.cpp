// Passwords in the desktop's keyring, against a real Secret Service (gnome-keyring-daemon on a
// private bus): where a new, edited, moved, renamed or removed account's password ends up,
// and what a locked keyring does to each. Every row runs in a process of its own (ctest runs
// each case alone), so a row may lock the keyring.
#include "accounteditor.h"
#include "accountfile.h"
#include "accountlist.h"
#include "accountmanager.h"
#include "accountsecret.h"
#include "apppaths.h"
#include "newaccount.h"
#include "support/component.h"
#include "support/keyringbus.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace
{

const std::string kPassword = "pw-in-the-keyring-1";
const std::string kNewPassword = "pw-in-the-keyring-2";

// What the keyring gives for the account's password; empty when nothing.
std::string InKeyring(const std::string& account)
{
    SecretKey key;
    key.account = account;
    return SystemKeyring::Lookup(key, SystemKeyring::Prompt::Never).secret;
}

AccountRecord Inf(const std::string& account)
{
    AccountRecord r;
    r.name = account;
    CAccountFile::ReadAccountFile(AppPaths::AccountFile(account), r);
    return r;
}

std::string PasswordCopy(const std::string& account)
{
    std::vector<AccountListRecord> records;
    CAccountList(AppPaths::AccountListFile()).Load(records);
    for (const auto& r : records)
        if (r.name == account)
            return r.passwordCopy;
    return "(not listed)";
}

struct Step {
    KeyringBus& keyring;
    CAccountManager& table;
    AccountEditResult result;
    SystemKeyring::Result read;
};

struct SecretRow {
    const char* name;
    bool createInKeyring;
    bool lockFirst;                 // the keyring is locked before `act`
    std::function<void(Step&)> act; // after "Mail" was created
    bool ok;                        // the edit's result
    std::string finalName;          // where the account is afterwards ("" = removed)
    std::string fileSecret;         // its "Secret=" value
    std::string filePassword;       // the password Account.inf holds
    std::string keyringPassword;    // what the keyring holds under finalName (unlocked)
    std::string resultHas;          // in the edit's message, or in the read's error
};
POSTWATCH_ROW_PRINTS_NAME(SecretRow)

AccountRecord Edited(const std::string& password)
{
    AccountRecord r = Inf("Mail");
    r.port = "1110";
    r.password = password;
    r.secret = AccountSecret::Placement(r, true);
    return r;
}

const SecretRow kRows[] = {
    {"NewAccountInKeyring", true, false, nullptr, true, "Mail", "keyring", "", kPassword, ""},
    {"NewAccountInFile", false, false, nullptr, true, "Mail", "", kPassword, "", ""},
    {"MoveIntoKeyring", false, false,
     [](Step& s) { s.result = CAccountEditor(s.table).MoveSecret("Mail", true); }, true, "Mail",
     "keyring", "", kPassword, ""},
    {"MoveBackToFile", true, false,
     [](Step& s) { s.result = CAccountEditor(s.table).MoveSecret("Mail", false); }, true, "Mail",
     "", kPassword, "", ""},
    {"EditWithoutPasswordKeepsSecret", true, false,
     [](Step& s) {
         s.result = CAccountEditor(s.table).ApplyProperties("Mail", Edited(""), nullptr);
     },
     true, "Mail", "keyring", "", kPassword, ""},
    {"EditStoresNewPassword", true, false,
     [](Step& s) {
         s.result = CAccountEditor(s.table).ApplyProperties("Mail", Edited(kNewPassword), nullptr);
     },
     true, "Mail", "keyring", "", kNewPassword, ""},
    {"RenameMovesSecret", true, false,
     [](Step& s) { s.result = CAccountEditor(s.table).Rename("Mail", "Post"); }, true, "Post",
     "keyring", "", kPassword, ""},
    {"RemoveDeletesSecret", true, false,
     [](Step& s) { s.result = CAccountEditor(s.table).Remove("Mail"); }, true, "", "", "", "", ""},
    {"LockedReadSaysUnavailable", true, true,
     [](Step& s) {
         AccountRecord r = Inf("Mail");
         s.read =
             AccountSecret::Resolve(r, SystemKeyring::Prompt::Allowed, SystemKeyring::kQuickLimit);
         s.result.message = AccountSecret::UnavailableText(s.read.error);
     },
     true, "Mail", "keyring", "", kPassword, "password unavailable: the system keyring is locked"},
    {"LockedMoveBackRefused", true, true,
     [](Step& s) { s.result = CAccountEditor(s.table).MoveSecret("Mail", false); }, false, "Mail",
     "keyring", "", kPassword, "locked"},
    {"LockedRenameRefused", true, true,
     [](Step& s) { s.result = CAccountEditor(s.table).Rename("Mail", "Post"); }, false, "Mail",
     "keyring", "", kPassword, "locked"},
    {"LockedMoveIntoKeyringRefused", false, true,
     [](Step& s) { s.result = CAccountEditor(s.table).MoveSecret("Mail", true); }, false, "Mail",
     "", kPassword, "", "locked"},
};

class AccountSecretTest : public ::testing::TestWithParam<SecretRow>
{
protected:
    static void SetUpTestSuite()
    {
        keyring_ = std::make_unique<KeyringBus>();
        if (!keyring_->Start(&why_))
            keyring_.reset();
        else
            ::setenv("DBUS_SESSION_BUS_ADDRESS", keyring_->Address().c_str(), 1);
    }
    static void TearDownTestSuite() { keyring_.reset(); }

    static std::unique_ptr<KeyringBus> keyring_;
    static std::string why_;
};
std::unique_ptr<KeyringBus> AccountSecretTest::keyring_;
std::string AccountSecretTest::why_;

TEST_P(AccountSecretTest, PasswordEndsUpWhereItBelongs)
{
    if (!keyring_)
        GTEST_SKIP() << MissingComponent("a Secret Service", why_);
    const SecretRow& row = GetParam();
    TempDir home;
    ScopedEnv data("POSTWATCH_HOME", home.Path());
    CAccountManager table;
    NewAccountRequest request{"Mail", "IMAP4", "127.0.0.1", "alice", kPassword, std::nullopt, ""};
    request.keepInKeyring = row.createInKeyring;
    ASSERT_TRUE(CreateNewAccount(request, &table).Ok());

    Step step{*keyring_, table, {}, {}};
    if (row.lockFirst)
        ASSERT_TRUE(keyring_->Lock());
    if (row.act)
        row.act(step);
    EXPECT_EQ(step.result.Ok(), row.ok) << step.result.message;
    EXPECT_NE((step.result.message + step.read.error).find(row.resultHas), std::string::npos)
        << step.result.message << step.read.error;
    // No text for the user ever carries a password.
    for (const std::string& secret : {kPassword, kNewPassword})
        EXPECT_EQ((step.result.message + step.read.error).find(secret), std::string::npos);
    if (row.lockFirst) {
        EXPECT_EQ(InKeyring(row.finalName.empty() ? "Mail" : row.finalName), "");
        ASSERT_TRUE(keyring_->Unlock());
    }

    if (row.finalName.empty()) {
        EXPECT_EQ(InKeyring("Mail"), "");
        EXPECT_EQ(PasswordCopy("Mail"), "(not listed)");
        return;
    }
    const AccountRecord inf = Inf(row.finalName);
    EXPECT_EQ(inf.secret, row.fileSecret);
    EXPECT_EQ(inf.password, row.filePassword);
    // Account.cfg's copy follows the file, so the account stays usable after a restart.
    EXPECT_EQ(PasswordCopy(row.finalName), row.filePassword);
    EXPECT_EQ(InKeyring(row.finalName), row.keyringPassword);
    if (row.finalName != "Mail")
        EXPECT_EQ(InKeyring("Mail"), "");
    CAccountManager restarted;
    ASSERT_EQ(restarted.LoadAll("", 0), 1);
    EXPECT_EQ(restarted.IsUsable(row.finalName), 1);
}

// An OAuth 2.0 account is made without a password and gets its refresh token from the
// sign-in, which writes it to the file: the keyring must not claim the empty password.
TEST_F(AccountSecretTest, NewOAuthAccountLeavesTheKeyringAlone)
{
    if (!keyring_)
        GTEST_SKIP() << MissingComponent("a Secret Service", why_);
    TempDir home;
    ScopedEnv data("POSTWATCH_HOME", home.Path());
    CAccountManager table;
    NewAccountRequest request{"Mail", "IMAP4", "127.0.0.1", "alice", "", std::nullopt, ""};
    request.signIn = kSignInOAuth2;
    request.keepInKeyring = true;
    ASSERT_TRUE(CreateNewAccount(request, &table).Ok());
    const AccountRecord inf = Inf("Mail");
    EXPECT_EQ(inf.signIn, kSignInOAuth2);
    EXPECT_EQ(inf.secret, "");
    EXPECT_EQ(InKeyring("Mail"), "");
}

INSTANTIATE_TEST_SUITE_P(Rows, AccountSecretTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
