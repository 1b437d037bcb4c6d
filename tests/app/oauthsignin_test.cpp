// OAuth 2.0 sign-in as the real program: --add-account ... --oauth and --sign-in against a
// simulated authorization server (the browser's part played by the test), then --check-now
// over IMAP (XOAUTH2) and POP3 (OAUTHBEARER) against a private Dovecot that checks each token
// with the server's introspection endpoint. An access token near its expiry is refreshed; a
// revoked refresh token makes the account ask to sign in again once, and nothing asks the
// provider again until it has. No token or code ever shows in the program's output.
#include "accountfile.h"
#include "apppaths.h"
#include "dovecotfixture.h"
#include "fakeoauthserver.h"
#include "oauthprovider.h"
#include "oauthstate.h"
#include "support/backgroundprocess.h"
#include "support/component.h"
#include "support/runprocess.h"
#include "support/tempdir.h"

#include <chrono>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>

namespace
{

const char kClientId[] = "postwatch-test-client";

class OAuthSignInTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        if (!oauth_.Start(kClientId, &error))
            GTEST_SKIP() << MissingComponent("python3 authorization server", error);
        dovecot_.AcceptOAuthTokens(oauth_.IntrospectionUrl());
        if (!dovecot_.Start())
            GTEST_SKIP() << MissingComponent("Dovecot", dovecot_.Error());
        for (const auto& [name, mechanism] :
             {std::pair{"Test", "XOAUTH2"}, std::pair{"TestBearer", "OAUTHBEARER"}}) {
            OAuthProvider provider{name,
                                   oauth_.BaseUrl() + "/authorize",
                                   oauth_.BaseUrl() + "/token",
                                   kClientId,
                                   "",
                                   "mail",
                                   mechanism,
                                   "",
                                   "",
                                   "",
                                   ""};
            ASSERT_EQ(OAuthProviders::Write(provider), 1);
        }
        dovecot_.Deliver("alice", "From: Bob <bob@example.org>\r\nSubject: Hello\r\n"
                                  "Date: Mon, 7 Dec 2026 09:30:00 +0000\r\n\r\nbody\r\n");
    }

    std::vector<std::string> Env() const
    {
        return {"POSTWATCH_HOME=" + dir_.File("data"),
                "XDG_CONFIG_HOME=" + dir_.File("config"),
                "XDG_DATA_HOME=" + dir_.File("share"),
                "HOME=" + dir_.File("home"),
                "DISPLAY=",
                "WAYLAND_DISPLAY="};
    }

    ProcessResult Run(const std::vector<std::string>& args)
    {
        ProcessResult r = RunProcess(POSTWATCH_BINARY, args, "", Env());
        output_ += r.out + r.err;
        return r;
    }

    // Runs a sign-in command, opens the address it prints as a browser would, and waits
    // for the program to end. Its exit code.
    int SignIn(const std::vector<std::string>& args)
    {
        // Files of its own: a reader must never see the last sign-in's address.
        const std::string name = "signin" + std::to_string(codes_.size());
        BackgroundProcess program(POSTWATCH_BINARY, args, Env(), dir_.File(name + ".out"),
                                  dir_.File(name + ".err"));
        const std::string prefix = oauth_.BaseUrl() + "/authorize?";
        std::string url;
        for (int i = 0; i < 200 && url.empty() && program.Running(); ++i) {
            const std::string out = program.Out();
            const std::size_t at = out.find(prefix);
            const std::size_t end = at == std::string::npos ? at : out.find('\n', at);
            if (end != std::string::npos)
                url = out.substr(at, end - at);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::string redirect;
        EXPECT_EQ(FakeOAuthServer::FollowSignIn(url, &redirect), 200) << program.Err();
        codes_.push_back(redirect.substr(redirect.find("code=")));
        for (int i = 0; i < 200 && program.Running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        output_ += program.Out() + program.Err();
        return program.ExitCode();
    }

    std::vector<std::string> AddArgs(const std::string& name, const std::string& kind, int port,
                                     const std::string& provider) const
    {
        return {"--add-account", name,        "--kind", kind,
                "--server",      "127.0.0.1", "--port", std::to_string(port),
                "--security",    "none",      "--user", "alice",
                "--oauth",       provider};
    }

    // Lets the cached access token of `account` run out within the minute.
    void NearExpiry(const std::string& account)
    {
        ScopedEnv home("POSTWATCH_HOME", dir_.File("data"));
        OAuthState state;
        ASSERT_EQ(OAuthState::Load(account, state), 1);
        secrets_.push_back(state.accessToken);
        state.expires = std::time(nullptr) + 30;
        ASSERT_EQ(OAuthState::Save(account, state, nullptr), 1);
    }

    void CollectAccessToken(const std::string& account)
    {
        ScopedEnv home("POSTWATCH_HOME", dir_.File("data"));
        OAuthState state;
        ASSERT_EQ(OAuthState::Load(account, state), 1);
        ASSERT_FALSE(state.accessToken.empty());
        secrets_.push_back(state.accessToken);
    }

    void CollectRefreshToken(const std::string& account)
    {
        ScopedEnv home("POSTWATCH_HOME", dir_.File("data"));
        AccountRecord record;
        record.name = account;
        ASSERT_EQ(CAccountFile::ReadAccountFile(AppPaths::AccountFile(account), record), 1);
        EXPECT_EQ(record.signIn, kSignInOAuth2);
        ASSERT_FALSE(record.password.empty());
        secrets_.push_back(record.password);
    }

    TempDir dir_;
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_.File("config")};
    FakeOAuthServer oauth_;
    DovecotFixture dovecot_;
    std::string output_;
    std::vector<std::string> secrets_;
    std::vector<std::string> codes_;
};

TEST_F(OAuthSignInTest, SignInCheckRefreshAndRevoke)
{
    // Sign-in while adding the accounts: IMAP with XOAUTH2, POP3 with OAUTHBEARER.
    ASSERT_EQ(SignIn(AddArgs("Imap", "IMAP4", dovecot_.ImapPort(), "Test")), 0) << output_;
    ASSERT_EQ(SignIn(AddArgs("Pop", "POP3", dovecot_.Pop3Port(), "TestBearer")), 0) << output_;
    CollectRefreshToken("Imap");
    CollectRefreshToken("Pop");
    EXPECT_EQ(oauth_.Stats()["code"], 2);

    // Both check with the access token of the sign-in: no refresh.
    ProcessResult r = Run({"--check-now", "Imap", "Pop"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Imap\t4\t"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("Pop\t4\t"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("Hello"), std::string::npos) << r.out;
    EXPECT_EQ(oauth_.Stats()["refresh"], 0);
    EXPECT_GE(oauth_.Stats()["active"], 2);

    // Editing an account keeps its sign-in (the refresh token is no password to check).
    r = Run({"--set-account", "Imap", "--period", "5"});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    // Within 60 s of its expiry a token is refreshed first; the new one works.
    NearExpiry("Imap");
    NearExpiry("Pop");
    r = Run({"--check-now", "Imap", "Pop"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(oauth_.Stats()["refresh"], 2);

    // The server refuses a token the provider no longer knows (the SASL failure exchange);
    // the next check gets a fresh one.
    CollectAccessToken("Imap");
    CollectAccessToken("Pop");
    ASSERT_TRUE(oauth_.Control("expire"));
    r = Run({"--check-now", "Imap", "Pop"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Imap\t2\t"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("Pop\t2\t"), std::string::npos) << r.out << r.err;
    r = Run({"--check-now", "Imap", "Pop"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(oauth_.Stats()["refresh"], 4);

    // The provider revokes the refresh tokens: one refused refresh, then none.
    ASSERT_TRUE(oauth_.Control("revoke"));
    NearExpiry("Imap");
    for (int round = 0; round < 3; ++round) {
        r = Run({"--check-now", "Imap"});
        EXPECT_EQ(r.exitCode, 1) << "round " << round;
        EXPECT_NE(r.out.find("Imap\t2\t"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("needs to sign in again"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("postwatch --sign-in Imap"), std::string::npos) << r.err;
        EXPECT_EQ(oauth_.Stats()["refresh"], 5) << "round " << round;
        EXPECT_EQ(oauth_.Stats()["refused"], 1) << "round " << round;
    }

    // Signing in again (the provider remembered) clears the mark.
    ASSERT_EQ(SignIn({"--sign-in", "Imap"}), 0) << output_;
    CollectRefreshToken("Imap");
    r = Run({"--check-now", "Imap"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Imap\t4\t"), std::string::npos) << r.out << r.err;

    NearExpiry("Imap"); // collects the last access token
    for (const std::string& secret : secrets_)
        EXPECT_EQ(output_.find(secret), std::string::npos) << "a token reached the output";
    for (const std::string& code : codes_)
        EXPECT_EQ(output_.find(code), std::string::npos) << "a code reached the output";
    EXPECT_EQ(dovecot_.LogText().find(secrets_.back()), std::string::npos);
}

} // namespace
