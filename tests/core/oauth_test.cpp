// The pieces of an OAuth 2.0 sign-in that see outside input: the PKCE values (RFC 7636's
// own example), the token endpoint's answers, and the loopback listener under requests that
// are not the redirect it waits for.
#include "authorizationrequest.h"
#include "loopbackredirect.h"
#include "pkce.h"
#include "scriptedserver.h"
#include "tokenclient.h"
#include "tokenresponse.h"

#include <arpa/inet.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

TEST(Pkce, ChallengeAndRandomValues)
{
    // RFC 7636 appendix B.
    EXPECT_EQ(Pkce::ChallengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const std::optional<PkcePair> a = Pkce::Make();
    const std::optional<PkcePair> b = Pkce::Make();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->verifier.size(), 43u);
    EXPECT_EQ(a->challenge, Pkce::ChallengeOf(a->verifier));
    EXPECT_NE(a->verifier, b->verifier);
    EXPECT_EQ(a->verifier.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                            "0123456789-_"),
              std::string::npos);
}

TEST(AuthorizationRequest, UrlCarriesEveryParameterEncoded)
{
    OAuthProvider p{"P",
                    "https://id.example/auth?tenant=x",
                    "https://id.example/token",
                    "client id",
                    "",
                    "mail offline",
                    "XOAUTH2",
                    "prompt=consent",
                    "",
                    "",
                    ""};
    const std::string url =
        AuthorizationRequest::Url(p, "http://127.0.0.1:5000/", "st&te", "chal", "a+b@example");
    EXPECT_EQ(url, "https://id.example/auth?tenant=x&response_type=code&client_id=client%20id"
                   "&redirect_uri=http%3A%2F%2F127.0.0.1%3A5000%2F&scope=mail%20offline"
                   "&state=st%26te&code_challenge=chal&code_challenge_method=S256"
                   "&login_hint=a%2Bb%40example&prompt=consent");
}

TEST(TokenResponse, ParsesWhatItCanTrust)
{
    struct Row {
        const char* name;
        std::string body;
        bool ok;
        std::string access;
        std::string refresh;
        long long expiresIn;
        std::string error;
    } rows[] = {
        {"success",
         R"({"access_token":"at","token_type":"Bearer","expires_in":3599,)"
         R"("refresh_token":"rt"})",
         true, "at", "rt", 3599, ""},
        {"bearer-any-case-no-refresh", R"({"access_token":"at","token_type":"bearer"})", true, "at",
         "", 3600, ""},
        {"expires-as-text", R"({"access_token":"at","token_type":"Bearer","expires_in":"60"})",
         true, "at", "", 60, ""},
        {"lifetime-clamped", R"({"access_token":"at","token_type":"Bearer","expires_in":1e300})",
         true, "at", "", 365LL * 24 * 3600, ""},
        {"negative-lifetime", R"({"access_token":"at","token_type":"Bearer","expires_in":-5})",
         true, "at", "", 0, ""},
        {"invalid-grant", R"({"error":"invalid_grant","error_description":"revoked"})", false, "",
         "", 0, "invalid_grant"},
        {"error-with-controls", "{\"error\":\"bad\\u001b[2J\"}", false, "", "", 0, "bad?[2J"},
        {"not-bearer", R"({"access_token":"at","token_type":"mac"})", false, "", "", 0,
         "the token answer is not for a bearer token"},
        {"token-with-space", R"({"access_token":"a t","token_type":"Bearer"})", false, "", "", 0,
         "the token answer holds no usable access token"},
        {"token-with-line-break", R"({"access_token":"at\r\nA1 LOGOUT","token_type":"Bearer"})",
         false, "", "", 0, "the token answer holds no usable access token"},
        {"not-json", "<html>502</html>", false, "", "", 0, "the token answer is not a JSON object"},
        {"array", "[]", false, "", "", 0, "the token answer is not a JSON object"},
        {"too-large", "{\"a\":\"" + std::string(TokenResponse::kMaxBytes, 'x') + "\"}", false, "",
         "", 0, "the token answer is too large"},
    };
    for (const Row& row : rows) {
        const TokenResponse r = TokenResponse::Parse(row.body);
        EXPECT_EQ(r.ok, row.ok) << row.name;
        EXPECT_EQ(r.accessToken, row.access) << row.name;
        EXPECT_EQ(r.refreshToken, row.refresh) << row.name;
        EXPECT_EQ(r.expiresIn, row.expiresIn) << row.name;
        EXPECT_EQ(r.error, row.error) << row.name;
    }
}

// Sends `bytes` to the listener and returns its answer's status line.
std::string Send(int port, const std::string& bytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return "no connection";
    }
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    char buf[512];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        answer.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return answer.substr(0, answer.find("\r\n"));
}

std::string Get(const std::string& target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

TEST(LoopbackRedirect, TakesOnlyTheRedirectOfItsOwnSignIn)
{
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> before; // request, status line
        std::string last;                                        // the request that ends it
        bool ok;
        std::string code;  // when ok
        std::string error; // part of the error when not
    } rows[] = {
        {"code", {}, Get("/?code=c%2B1&state=S1"), true, "c+1", ""},
        {"strays-then-code",
         {{Get("/favicon.ico"), "HTTP/1.1 404 Not Found"},
          {Get("/?code=forged&state=other"), "HTTP/1.1 400 Bad Request"},
          {Get("/?code=forged"), "HTTP/1.1 400 Bad Request"},
          {"POST /?code=x&state=S1 HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
          {"GET /?code=x&state=S1 HTTP/1.1\r\nX: " + std::string(9000, 'a'),
           "HTTP/1.1 400 Bad Request"},
          {"garbage\r\n\r\n", "HTTP/1.1 400 Bad Request"}},
         Get("/?state=S1&code=good"),
         true,
         "good",
         ""},
        {"refused", {}, Get("/?error=access_denied&state=S1"), false, "", "access_denied"},
    };
    for (const Row& row : rows) {
        LoopbackRedirect listener;
        ASSERT_TRUE(listener.Listen()) << listener.Error();
        EXPECT_EQ(listener.RedirectUri(),
                  "http://127.0.0.1:" + std::to_string(listener.Port()) + "/");
        auto waiting = std::async(std::launch::async, [&listener] {
            return listener.Wait("S1", std::chrono::seconds(20));
        });
        for (const auto& [request, status] : row.before)
            EXPECT_EQ(Send(listener.Port(), request), status) << row.name;
        EXPECT_EQ(Send(listener.Port(), row.last),
                  row.ok ? "HTTP/1.1 200 OK" : "HTTP/1.1 400 Bad Request")
            << row.name;
        const LoopbackRedirect::Outcome outcome = waiting.get();
        EXPECT_EQ(outcome.ok, row.ok) << row.name;
        EXPECT_EQ(outcome.code, row.code) << row.name;
        EXPECT_NE(outcome.error.find(row.error), std::string::npos) << row.name << outcome.error;
    }

    LoopbackRedirect idle;
    ASSERT_TRUE(idle.Listen());
    const LoopbackRedirect::Outcome late = idle.Wait("S1", std::chrono::milliseconds(300));
    EXPECT_FALSE(late.ok);
    EXPECT_NE(late.error.find("in time"), std::string::npos) << late.error;
}

// A token endpoint that keeps the client waiting ends the refresh within its time-out as
// unreachable; one that answers 200 with something that is no usable token is a failure, never
// an empty access token handed to the mail server as a success.
TEST(TokenClient, HostileEndpointIsNoSuccess)
{
    auto http = [](const std::string& body) {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    };
    struct Row {
        const char* name;
        std::function<void(ScriptedServer&)> answer; // after the request line
        TokenClient::Status status;
    } rows[] = {
        {"never-answers", [](ScriptedServer&) {}, TokenClient::Status::Unreachable},
        {"drips",
         [&](ScriptedServer& s) {
             s.Send(http(R"({"access_token":"abc","token_type":"Bearer"})"), 1,
                    std::chrono::milliseconds(100));
         },
         TokenClient::Status::Unreachable},
        {"garbage", [&](ScriptedServer& s) { s.Send(http("garbage")).Close(); },
         TokenClient::Status::Failed},
        {"no-access-token",
         [&](ScriptedServer& s) {
             s.Send(http(R"({"token_type":"Bearer","expires_in":3600})")).Close();
         },
         TokenClient::Status::Failed},
        {"empty-access-token",
         [&](ScriptedServer& s) {
             s.Send(http(R"({"access_token":"","token_type":"Bearer"})")).Close();
         },
         TokenClient::Status::Failed},
    };
    for (const Row& row : rows) {
        ScriptedServer server;
        server.Expect("POST ");
        row.answer(server);
        ASSERT_TRUE(server.Start()) << row.name;
        OAuthProvider provider;
        provider.name = "Example";
        provider.tokenUrl = "http://127.0.0.1:" + std::to_string(server.Port()) + "/token";
        provider.clientId = "client";
        const TokenClient::Result r = TokenClient(2).Refresh(provider, "refresh-token");
        EXPECT_EQ(r.status, row.status) << row.name << ": " << r.message;
        EXPECT_TRUE(r.response.accessToken.empty()) << row.name;
        EXPECT_FALSE(r.message.empty()) << row.name;
    }
}

} // namespace
