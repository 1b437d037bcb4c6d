// Results must not depend on where input is split: incremental decoders are fed in every
// split, and whole-text parsers get their line, fold and part terminators at every offset.
#include "base64decoder.h"
#include "headertext.h"
#include "mimedecoding.h"
#include "quotedprintabledecoder.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>
#include <random>

namespace
{

struct StreamCase {
    const char* name;
    bool base64;
    std::string input;
};

std::string Feed(bool base64, const std::string& input, const std::vector<size_t>& cuts)
{
    std::string out;
    Base64Decoder b;
    QuotedPrintableDecoder q;
    size_t from = 0;
    auto feed = [&](std::string_view piece) {
        if (base64)
            b.Feed(piece, out);
        else
            q.Feed(piece, out);
    };
    for (size_t cut : cuts) {
        feed(std::string_view(input).substr(from, cut - from));
        from = cut;
    }
    feed(std::string_view(input).substr(from));
    q.Finish();
    return out;
}

POSTWATCH_ROW_PRINTS_NAME(StreamCase)

class StreamSplitTest : public testing::TestWithParam<StreamCase>
{
};

TEST_P(StreamSplitTest, SameBytesInEverySplit)
{
    const StreamCase& c = GetParam();
    const std::string whole = c.base64 ? DecodeBase64(c.input) : DecodeQuotedPrintable(c.input);
    std::vector<size_t> each;
    for (size_t i = 1; i < c.input.size(); ++i)
        each.push_back(i);
    EXPECT_EQ(Feed(c.base64, c.input, each), whole) << "one byte at a time";
    for (size_t i = 0; i <= c.input.size(); ++i)
        EXPECT_EQ(Feed(c.base64, c.input, {i}), whole) << "split at " << i;
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<size_t> cuts;
        for (size_t i = 1; i < c.input.size(); ++i)
            if (rng() % 5 == 0)
                cuts.push_back(i);
        EXPECT_EQ(Feed(c.base64, c.input, cuts), whole) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Split, StreamSplitTest,
    testing::Values(StreamCase{"Base64Lines", true, "SGVsbG8gd29ybGQh\r\nSGVsbG8=\r\n"},
                    StreamCase{"Base64PadPair", true, "TQ==TWFu"},
                    StreamCase{"Base64Stray", true, "T\nW=F*u\r\nTW"},
                    StreamCase{"QpEscapesAndBreaks", false, "caf=E9 =\r\nau=3d lait= \t\r\nx=\ny"},
                    StreamCase{"QpLiteralEquals", false, "a=ZZ=4Zb= c=\rd"},
                    StreamCase{"QpCutAtEnd", false, "abc=4"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SplitTerminators, LineBreakAtEveryOffsetOfBase64Body)
{
    const std::string encoded = "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcyBvdmVyIHRoZSBsYXp5IGRvZy4=";
    const std::string want = "The quick brown fox jumps over the lazy dog.";
    for (size_t i = 0; i <= encoded.size(); ++i) {
        const std::string text = "Content-Transfer-Encoding: base64\r\n\r\n" +
                                 encoded.substr(0, i) + "\r\n" + encoded.substr(i);
        MessageRecord r;
        HeaderText(text).Fill(r);
        EXPECT_EQ(r.preview, want) << "line end at " << i;
    }
}

TEST(SplitTerminators, SoftBreakAtEveryOffsetOfQuotedPrintable)
{
    const std::string body = "caf=C3=A9 au lait, cr=C3=A8me br=C3=BBl=C3=A9e";
    const std::string want = "caf\xC3\xA9 au lait, cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
                             "e";
    for (size_t i = 0; i <= body.size(); ++i) {
        // A soft break may not cut an "=XX" escape.
        if ((i >= 1 && body[i - 1] == '=') || (i >= 2 && body[i - 2] == '='))
            continue;
        const std::string text = "Content-Type: text/plain; charset=utf-8\r\n"
                                 "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                                 body.substr(0, i) + "=\r\n" + body.substr(i);
        MessageRecord r;
        HeaderText(text).Fill(r);
        EXPECT_EQ(r.preview, want) << "soft break at " << i;
    }
}

TEST(SplitTerminators, ClosingDelimiterAtEveryOffset)
{
    const std::string part = "first part text, cut anywhere";
    for (size_t i = 0; i <= part.size(); ++i) {
        const std::string body =
            "--sep\r\n\r\n" + part.substr(0, i) + "\r\n--sep\r\n\r\n" + part.substr(i);
        const FirstPartResult r = FirstPart(body, "sep");
        EXPECT_TRUE(r.found);
        EXPECT_EQ(r.body, part.substr(0, i)) << "delimiter at " << i;
    }
}

TEST(SplitTerminators, FoldAtEveryBlank)
{
    const std::string value = "a long subject with several words";
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != ' ')
            continue;
        const std::string text =
            "Subject: " + value.substr(0, i) + "\r\n" + value.substr(i) + "\r\nFrom: x\r\n\r\n";
        EXPECT_EQ(HeaderText(text).GetField("Subject"), value) << "fold at " << i;
    }
}

TEST(SplitTerminators, EncodedWordSplitAtEveryByte)
{
    // "日本語 ok" in UTF-8, cut into two adjacent encoded words at every byte.
    const std::string bytes = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E ok";
    auto q = [](std::string_view s) {
        static const char* hex = "0123456789ABCDEF";
        std::string out;
        for (unsigned char c : s) {
            out += '=';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        return out;
    };
    for (size_t i = 1; i < bytes.size(); ++i) {
        const std::string text =
            "=?UTF-8?Q?" + q(bytes.substr(0, i)) + "?=\r\n =?utf-8?Q?" + q(bytes.substr(i)) + "?=";
        EXPECT_EQ(DecodeWords(text), bytes) << "split at " << i;
    }
}

} // namespace
