// Digest challenges as servers write them (and as hostile ones might), and known answers.
#include "digestauth.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

struct DigestRow {
    const char* name;
    std::string headers; // a raw header block
    bool wantParsed;
    std::string wantRealm = {}, wantNonce = {}, wantOpaque = {};
    // When set: the Authorization value for GET /dir/index.html, user Mufasa, password
    // "Circle Of Life", cnonce 0a4f113b must contain this.
    std::string wantInAnswer = {};
};

POSTWATCH_ROW_PRINTS_NAME(DigestRow)

class DigestAuthTest : public testing::TestWithParam<DigestRow>
{
};

TEST_P(DigestAuthTest, ParseAndAnswer)
{
    const DigestRow& row = GetParam();
    DigestAuth::Challenge c;
    std::string error;
    ASSERT_EQ(DigestAuth::FindChallenge(row.headers, c, &error), row.wantParsed) << error;
    if (!row.wantParsed) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(c.realm, row.wantRealm);
    EXPECT_EQ(c.nonce, row.wantNonce);
    EXPECT_EQ(c.opaque, row.wantOpaque);
    DigestAuth auth;
    auth.SetChallenge(c);
    const std::string answer =
        auth.Authorization("GET", "/dir/index.html", "Mufasa", "Circle Of Life", "0a4f113b");
    EXPECT_EQ(answer.find_first_of("\r\n"), std::string::npos);
    if (!row.wantInAnswer.empty())
        EXPECT_NE(answer.find(row.wantInAnswer), std::string::npos) << answer;
    // A second answer to the same nonce counts up; a fresh cnonce each time.
    const std::string second = auth.Authorization("GET", "/dir/index.html", "Mufasa", "x");
    const std::string third = auth.Authorization("GET", "/dir/index.html", "Mufasa", "x");
    if (c.qopAuth) {
        EXPECT_NE(second.find("nc=00000002"), std::string::npos) << second;
        EXPECT_NE(second.substr(second.find("cnonce=")), third.substr(third.find("cnonce=")));
    }
}

const std::string kRfc =
    "WWW-Authenticate: Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
    "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"\r\n";

INSTANTIATE_TEST_SUITE_P(
    Digest, DigestAuthTest,
    testing::Values(
        // RFC 2617 3.5's example; its published response.
        DigestRow{"Rfc2617Example", "HTTP/1.1 401 Unauthorized\r\n" + kRfc, true,
                  "testrealm@host.com", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
                  "5ccc069c403ebaf9f0171e9517f40e41",
                  "response=\"6629fae49393a05397450978507c4ef1\", "
                  "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""},
        DigestRow{"AnyOrderTokensAndCase",
                  "www-authenticate: DIGEST nonce=abc, algorithm=MD5,qop=auth ,realm=\"r\"\r\n",
                  true, "r", "abc", "", "nc=00000001, cnonce=\"0a4f113b\""},
        DigestRow{"EscapedQuoteStaysEscaped",
                  "WWW-Authenticate: Digest realm=\"a\\\"b\", nonce=\"n\", qop=\"auth\"\r\n", true,
                  "a\"b", "n", "", "realm=\"a\\\"b\""},
        DigestRow{"AfterAnotherScheme",
                  "WWW-Authenticate: Basic realm=\"x\"\r\nWWW-Authenticate: Digest "
                  "realm=\"d\", nonce=\"n2\", qop=\"auth\"\r\n",
                  true, "d", "n2", "", ""},
        DigestRow{"NoQopOlderForm", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n", true,
                  "r", "n", "", ""},
        DigestRow{"UnterminatedQuote", "WWW-Authenticate: Digest realm=\"r, nonce=\"n\r\n", false},
        DigestRow{"ControlCharacterInNonce",
                  std::string("WWW-Authenticate: Digest realm=\"r\", nonce=\"a\x01") +
                      "Injected: 1\", qop=auth\r\n",
                  false},
        DigestRow{"HugeNonce",
                  "WWW-Authenticate: Digest realm=\"r\", nonce=\"" + std::string(10240, 'n') +
                      "\", qop=auth\r\n",
                  false},
        DigestRow{"NoNonce", "WWW-Authenticate: Digest realm=\"r\", qop=auth\r\n", false},
        DigestRow{"OnlyAuthInt",
                  "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"\r\n", false},
        DigestRow{"UnknownAlgorithm",
                  "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256, "
                  "qop=auth\r\n",
                  false},
        DigestRow{"NoChallengeAtAll", "Content-Type: text/plain\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DigestAuthKnownAnswer, Md5Abc)
{
    EXPECT_EQ(DigestAuth::Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

} // namespace
