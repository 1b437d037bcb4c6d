// The command line with "KeepPasswordsInKeyring" on, as the real program against a private
// Dovecot and a real Secret Service: the password goes to the keyring at --add-account, the
// check reads it from there, it follows a rename and a new password, a locked keyring gives
// "password unavailable" (result 2), a removal deletes it, and without a keyring the file keeps
// it. Nothing the program prints ever holds the password.
#include "accountfile.h"
#include "apppaths.h"
#include "dovecotenvironment.h"
#include "regsettings.h"
#include "support/keyringbus.h"
#include "support/runprocess.h"
#include "support/tempdir.h"
#include "systemkeyring.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

const std::string kPassword = "alice-pass";

class KeyringCheckNowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dovecot_ = DovecotEnvironment::Get();
        if (!dovecot_)
            GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
        std::string why;
        if (!keyring_.Start(&why))
            GTEST_SKIP() << MissingComponent("a Secret Service", why);
        ASSERT_TRUE(dovecot_->ClearMailbox("alice"));
        // This process looks into the same keyring and settings as the program.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", keyring_.Address().c_str(), 1);
        CRegSettings settings;
        ASSERT_EQ(settings.Prepare(), 1);
        ASSERT_EQ(settings.LoadGeneral(), 1);
        settings.general.keepPasswordsInKeyring.Set(true);
        ASSERT_EQ(settings.SaveGeneral(), 1);
    }

    ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "",
                      const std::string& bus = "")
    {
        ProcessResult r = RunProcess(
            POSTWATCH_BINARY, args, input,
            {"POSTWATCH_HOME=" + dir_.File("data"), "XDG_CONFIG_HOME=" + dir_.File("config"),
             "DBUS_SESSION_BUS_ADDRESS=" + (bus.empty() ? keyring_.Address() : bus)});
        EXPECT_EQ((r.out + r.err).find(kPassword), std::string::npos) << "the password leaked";
        return r;
    }
    ProcessResult Add(const std::string& name, const std::string& bus = "")
    {
        return Run({"--add-account", name, "--kind", "IMAP4", "--server", "127.0.0.1", "--user",
                    "alice", "--port", std::to_string(dovecot_->ImapPort()), "--security", "none"},
                   kPassword + "\n", bus);
    }
    static std::string InKeyring(const std::string& account)
    {
        SecretKey key;
        key.account = account;
        return SystemKeyring::Lookup(key, SystemKeyring::Prompt::Never).secret;
    }
    static AccountRecord Inf(const std::string& account)
    {
        AccountRecord r;
        r.name = account;
        CAccountFile::ReadAccountFile(AppPaths::AccountFile(account), r);
        return r;
    }

    DovecotFixture* dovecot_ = nullptr;
    KeyringBus keyring_;
    TempDir dir_;
    ScopedEnv data_{"POSTWATCH_HOME", dir_.File("data")};
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_.File("config")};
};

TEST_F(KeyringCheckNowTest, PasswordLivesInKeyringThroughTheAccountsLife)
{
    ProcessResult r = Add("Mail");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Inf("Mail").secret, "keyring");
    EXPECT_EQ(Inf("Mail").password, "");
    EXPECT_EQ(InKeyring("Mail"), kPassword);

    // The check logs in with the password from the keyring only.
    ASSERT_FALSE(dovecot_->Deliver("alice", "Subject: one\r\n\r\nbody\r\n").empty());
    r = Run({"--check-now", "Mail"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Mail\t4\tdone\t1"), std::string::npos) << r.out;

    // A rename takes the secret along.
    r = Run({"--rename-account", "Mail", "Post"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(InKeyring("Mail"), "");
    EXPECT_EQ(InKeyring("Post"), kPassword);
    r = Run({"--check-now", "Post"});
    EXPECT_NE(r.out.find("Post\t4\tdone\t0"), std::string::npos) << r.out << r.err;

    // A new password from standard input goes to the keyring, not the file.
    r = Run({"--set-account", "Post", "--password-stdin"}, "wrong-" + kPassword + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(InKeyring("Post"), "wrong-" + kPassword);
    EXPECT_EQ(Inf("Post").password, "");
    r = Run({"--check-now", "Post"});
    EXPECT_NE(r.out.find("Post\t2\t"), std::string::npos) << r.out << r.err;
    r = Run({"--set-account", "Post", "--password-stdin"}, kPassword + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // Locked: the prompt cannot be shown on this bus, so the check says why it cannot log in.
    ASSERT_TRUE(keyring_.Lock());
    r = Run({"--check-now", "Post"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.out.find("Post\t2\tpassword unavailable: the system keyring is locked\t0"),
              std::string::npos)
        << r.out << r.err;
    ASSERT_TRUE(keyring_.Unlock());
    r = Run({"--check-now", "Post"});
    EXPECT_NE(r.out.find("Post\t4\tdone\t0"), std::string::npos) << r.out << r.err;

    r = Run({"--remove-account", "Post"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(InKeyring("Post"), "");
}

// A Secret Service that never answers, or a locked keyring whose prompt nobody would see (no
// display): the check ends with "password unavailable", never with a log-in or a success,
// and does not wait out the two minutes a prompt gets for its user.
TEST_F(KeyringCheckNowTest, NoAnswerAndNoPromptEndAsPasswordUnavailable)
{
    ASSERT_EQ(Add("Mail").exitCode, 0);
    struct Row {
        const char* name;
        std::function<bool()> before, after;
        const char* why;
    } rows[] = {
        {"frozen", [&] { return keyring_.Freeze(true); }, [&] { return keyring_.Freeze(false); },
         "password unavailable: the system keyring did not answer in time"},
        {"locked", [&] { return keyring_.Lock(); }, [&] { return keyring_.Unlock(); },
         "password unavailable: the system keyring is locked"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(row.before()) << row.name;
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = Run({"--check-now", "Mail"});
        const auto spent = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(row.after()) << row.name;
        EXPECT_NE(r.exitCode, 0) << row.name;
        EXPECT_NE(r.out.find(std::string("Mail\t2\t") + row.why), std::string::npos)
            << row.name << ": " << r.out << r.err;
        // A bound, not a speed: the prompt's limit is 120 s, a D-Bus call's own 25 s.
        EXPECT_LT(spent, std::chrono::seconds(20)) << row.name;
    }
    EXPECT_NE(Run({"--check-now", "Mail"}).out.find("Mail\t4\tdone"), std::string::npos);
}

TEST_F(KeyringCheckNowTest, WithoutKeyringTheFileKeepsThePassword)
{
    const ProcessResult r = Add("Mail", "unix:path=" + dir_.File("no-bus-here"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Inf("Mail").secret, "");
    EXPECT_EQ(Inf("Mail").password, kPassword);
    EXPECT_EQ(InKeyring("Mail"), "");
    const ProcessResult check = Run({"--check-now", "Mail"});
    EXPECT_NE(check.out.find("Mail\t4\tdone\t0"), std::string::npos) << check.out << check.err;
}

} // namespace
