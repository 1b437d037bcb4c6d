#include "mimedecoding.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>

namespace
{

struct WordsCase {
    const char* name;
    std::string in;
    std::string want;
};

POSTWATCH_ROW_PRINTS_NAME(WordsCase)

class DecodeWordsTest : public testing::TestWithParam<WordsCase>
{
};

TEST_P(DecodeWordsTest, DecodesToUtf8)
{
    EXPECT_EQ(DecodeWords(GetParam().in), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Mime, DecodeWordsTest,
    testing::Values(
        WordsCase{"Plain", "hello", "hello"},
        WordsCase{"Gb2312Base64", "=?gb2312?B?xOO6ww==?=", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        WordsCase{"QUnderscoreIsBlank", "=?GB2312?Q?a_b?=", "a b"},
        WordsCase{"ReStaysInFront", "Re: =?utf-8?Q?caf=C3=A9?=", "Re: caf\xC3\xA9"},
        WordsCase{"Windows1252Decodes",
                  "=?windows-1252?Q?=93quoted=94?=", "\xE2\x80\x9Cquoted\xE2\x80\x9D"},
        WordsCase{"Gb2312AndUtf8BothDecode", "=?gb2312?B?xOO6ww==?= and =?utf-8?B?w6k=?=",
                  "\xE4\xBD\xA0\xE5\xA5\xBD and \xC3\xA9"},
        WordsCase{"Koi8r",
                  "=?koi8-r?B?8NLJ18XU?=", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        WordsCase{"Iso88591LowerHex", "=?iso-8859-1?q?=e9t=e9?=", "\xC3\xA9t\xC3\xA9"},
        WordsCase{"Iso8859SecondFormOfName", "=?iso8859-2?Q?=B1?=", "\xC4\x85"},
        WordsCase{"Big5", "=?big5?B?pKQ=?=", "\xE4\xB8\xAD"},
        WordsCase{"ShiftJis", "=?shift_jis?B?k/qWe4zq?=", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        WordsCase{"Iso2022Jp",
                  "=?iso-2022-jp?B?GyRCRnxLXDhsGyhC?=", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        WordsCase{"HzGb2312", "=?hz-gb-2312?Q?~{Dc:C~}!?=", "\xE4\xBD\xA0\xE5\xA5\xBD!"},
        WordsCase{"Utf7", "=?utf-7?Q?+AOk-t+AOk-?=", "\xC3\xA9t\xC3\xA9"},
        WordsCase{"LanguageSuffix", "=?utf-8*en?Q?hi?=", "hi"},
        WordsCase{"AdjacentWordsLoseWhiteSpace", "=?utf-8?Q?a?= \t =?utf-8?Q?b?=", "ab"},
        WordsCase{"SplitCharacterJoins",
                  "=?utf-8?B?5L2g5aU=?= =?utf-8?B?vQ==?=", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        WordsCase{"SplitGbkCharacterJoins", "=?gbk?Q?=C4?==?gbk?Q?=E3?=", "\xE4\xBD\xA0"},
        WordsCase{"TextBetweenWordsStays", "=?utf-8?Q?a?= x =?utf-8?Q?b?=", "a x b"},
        WordsCase{"UnknownCharsetStays", "=?x-unknown?Q?abc?= tail", "=?x-unknown?Q?abc?= tail"},
        WordsCase{"UnknownNextToKnownKeepsSpace",
                  "=?utf-8?Q?a?= =?x-none?Q?b?=", "a =?x-none?Q?b?="},
        WordsCase{"UnknownCharsetRawBytesBecomeUtf8",
                  "=?x-unknown?Q?\xDC?=", "=?x-unknown?Q?\xC3\x9C?="},
        WordsCase{"EmptyCharset", "=??Q?abc?=", "=??Q?abc?="},
        // A label iconv reads as UTF-8 lets a code point above U+10FFFF through.
        WordsCase{"BeyondUnicodeReplaced", "=?utf)8?Q?a=F7=A6=AE=B5b?=",
                  "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                  "b"},
        WordsCase{"OnlyMarker", "Subject =??", "Subject =??"},
        WordsCase{"Unterminated", "=?utf-8?B?w6k", "=?utf-8?B?w6k"},
        WordsCase{"BadEncodingLetter", "=?utf-8?X?abc?=", "=?utf-8?X?abc?="},
        WordsCase{"LongCharsetName",
                  "=?" + std::string(500, 'a') + "?Q?x?=", "=?" + std::string(500, 'a') + "?Q?x?="},
        WordsCase{"BadBase64Skipped", "=?utf-8?B?w6!!k=?=", "\xC3\xA9"},
        WordsCase{"InvalidUtf8Replaced", "=?utf-8?Q?a=FFb?=",
                  "a\xEF\xBF\xBD"
                  "b"},
        WordsCase{"EmptyPayload",
                  "x=?utf-8?Q?"
                  "?=y",
                  "xy"},
        WordsCase{"RawUtf8Kept",
                  "Gr\xC3\xBC\xC3\x9F"
                  "e",
                  "Gr\xC3\xBC\xC3\x9F"
                  "e"},
        WordsCase{"Raw8BitIsWindows1252", "caf\xE9 =?utf-8?Q?ok?=", "caf\xC3\xA9 ok"},
        WordsCase{"NulByteKept", std::string("a\0b", 3), std::string("a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

struct TransferCase {
    const char* name;
    bool base64;
    std::string in;
    std::string want;
};

POSTWATCH_ROW_PRINTS_NAME(TransferCase)

class TransferDecodingTest : public testing::TestWithParam<TransferCase>
{
};

TEST_P(TransferDecodingTest, Decodes)
{
    const TransferCase& c = GetParam();
    EXPECT_EQ(c.base64 ? DecodeBase64(c.in) : DecodeQuotedPrintable(c.in), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Mime, TransferDecodingTest,
    testing::Values(TransferCase{"B64Group", true, "TWFu", "Man"},
                    TransferCase{"B64OnePad", true, "TWE=", "Ma"},
                    TransferCase{"B64TwoPads", true, "TQ==", "M"},
                    TransferCase{"B64StopsAtPadPair", true, "TQ==TWFu", "M"},
                    TransferCase{"B64CrLfBetweenGroups", true, "TWFu\r\nTWFu", "ManMan"},
                    TransferCase{"B64LoneLf", true, "TWFu\nTWFu", "ManMan"},
                    TransferCase{"B64StrayInsideGroup", true, "TW*Fu", "Man"},
                    TransferCase{"B64AllBinary", true,
                                 "AP8A/w==", std::string("\x00\xFF\x00\xFF", 4)},
                    TransferCase{"B64OneLeftoverChar", true, "TWFuT", "Man"},
                    TransferCase{"B64Empty", true, "", ""},
                    TransferCase{"QpHexUpper", false, "a=3Db", "a=b"},
                    TransferCase{"QpHexLower", false, "caf=e9", "caf\xE9"},
                    TransferCase{"QpSoftBreak", false, "ab=\r\ncd", "abcd"},
                    TransferCase{"QpSoftBreakBareLf", false, "ab=\ncd", "abcd"},
                    TransferCase{"QpSoftBreakAfterBlanks", false, "ab= \t\r\ncd", "abcd"},
                    TransferCase{"QpHardBreakKept", false, "ab\r\ncd", "ab\r\ncd"},
                    TransferCase{"QpNotHexKept", false, "a=ZZb", "a=ZZb"},
                    TransferCase{"QpHalfHexKept", false, "a=4Zb", "a=4Zb"},
                    TransferCase{"QpCutAtEnd", false, "abc=4", "abc"},
                    TransferCase{"QpEqualsAtEnd", false, "abc=", "abc"},
                    TransferCase{"QpEqualsBlankThenText", false, "a= b", "a= b"}),
    [](const auto& info) { return std::string(info.param.name); });

struct PartCase {
    const char* name;
    std::string body;
    std::string boundary;
    bool found;
    std::string part, encoding, charset;
};

POSTWATCH_ROW_PRINTS_NAME(PartCase)

class FirstPartTest : public testing::TestWithParam<PartCase>
{
};

TEST_P(FirstPartTest, Picks)
{
    const PartCase& c = GetParam();
    const FirstPartResult r = FirstPart(c.body, c.boundary);
    EXPECT_EQ(r.found, c.found);
    EXPECT_EQ(r.body, c.part);
    EXPECT_EQ(r.transferEncoding, c.encoding);
    EXPECT_EQ(r.charset, c.charset);
}

std::string Nested(int depth)
{
    std::string s;
    for (int i = 0; i < depth; ++i)
        s += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
             std::to_string(i + 1) + "\"\r\n\r\n";
    return s + "--b" + std::to_string(depth) + "\r\n\r\ndeep";
}

INSTANTIATE_TEST_SUITE_P(
    Mime, FirstPartTest,
    testing::Values(
        PartCase{"Simple",
                 "preamble\r\n--b\r\nContent-Type: text/plain; charset=gb2312\r\n"
                 "Content-Transfer-Encoding: base64\r\n\r\nxOO6ww==\r\n--b\r\n\r\nsecond",
                 "b", true, "xOO6ww==", "base64", "gb2312"},
        PartCase{"NoClosingDelimiter", "--b\r\n\r\ncut short", "b", true, "cut short", "", ""},
        PartCase{"NoPartHeader", "--b\r\n\r\ntext\r\n--b--", "b", true, "text", "", ""},
        PartCase{"DelimiterMissing", "no parts here", "b", false, "", "", ""},
        PartCase{"NoBlankLineInPart", "--b\r\nContent-Type: text/plain", "b", true, "", "", ""},
        PartCase{"DelimiterMustStartLine", "x--b\r\n\r\nno\r\n--b\r\n\r\nyes", "b", true, "yes", "",
                 ""},
        PartCase{"Nested",
                 "--o\r\nContent-Type: multipart/alternative;\r\n boundary=\"i\"\r\n\r\n"
                 "--i\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\na=3Db\r\n--i\r\n"
                 "\r\nhtml\r\n--o--",
                 "o", true, "a=3Db", "quoted-printable", ""},
        PartCase{"NestedDelimiterMissing",
                 "--o\r\nContent-Type: multipart/mixed; boundary=\"i\"\r\n\r\nnothing", "o", false,
                 "", "", ""},
        PartCase{"DashBoundary", "---\r\n\r\nx", "-", true, "x", "", ""},
        PartCase{"NonAsciiBoundary", "--\xE9\xE8\r\n\r\nx", "\xE9\xE8", true, "x", "", ""},
        PartCase{"EmptyBoundary", "--\r\n\r\nx", "", false, "", "", ""},
        PartCase{"HugeBoundary", "--" + std::string(300, 'q') + "\r\n\r\nx", std::string(300, 'q'),
                 false, "", "", ""},
        PartCase{"FiveLevels", Nested(5), "b0", true, "deep", "", ""},
        PartCase{"TenThousandLevelsGiveNoPart", Nested(10000), "b0", false, "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct RecordCase {
    const char* name;
    std::string preview, encoding, type, boundary, charset;
    std::string want;
};

POSTWATCH_ROW_PRINTS_NAME(RecordCase)

class DecodeRecordTest : public testing::TestWithParam<RecordCase>
{
};

TEST_P(DecodeRecordTest, DecodesPreview)
{
    const RecordCase& c = GetParam();
    MessageRecord r;
    r.preview = c.preview;
    DecodeRecord(r, c.encoding, c.type, c.boundary, c.charset);
    EXPECT_EQ(r.preview, c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Mime, DecodeRecordTest,
    testing::Values(
        RecordCase{"AlternativeQpFirstPart",
                   "--x\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\na=3Db\r\n--x\r\n",
                   "base64", "multipart/alternative", "x", "", "a=b"},
        RecordCase{"Base64Unbroken76", "SGVsbG8gd29ybGQh\r\nSGVsbG8=\r\n", "base64", "", "", "",
                   "Hello world!Hello"},
        RecordCase{"CharsetFromPart",
                   "--x\r\nContent-Type: text/plain; charset=gb2312\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\nxOO6ww==",
                   "", "Multipart/Mixed", "x", "utf-8", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        RecordCase{"NoCharsetValidUtf8", "caf\xC3\xA9", "8bit", "", "", "", "caf\xC3\xA9"},
        RecordCase{"NoCharsetLatin", "caf\xE9", "8bit", "", "", "", "caf\xC3\xA9"},
        RecordCase{"CutUtf8CharacterDropped", "ok \xE4\xBD", "", "", "", "utf-8", "ok "},
        RecordCase{"CutUndeclaredUtf8Dropped", "\xC3\xA9\xE4\xBD", "", "", "", "", "\xC3\xA9"},
        RecordCase{"UnknownCharsetTreatedAsUndeclared", "caf\xE9", "", "", "", "x-martian",
                   "caf\xC3\xA9"},
        RecordCase{"MultipartWithoutBoundary", "text", "", "multipart/mixed", "", "", ""},
        RecordCase{"HtmlPartShownAsIs", "--x\r\nContent-Type: text/html\r\n\r\n<p>hi</p>", "",
                   "multipart/alternative", "x", "", "<p>hi</p>"},
        RecordCase{"EmptyPreviewStays", "", "base64", "multipart/mixed", "x", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeRecordOrder, RewritesSubjectSenderAndNothingElse)
{
    MessageRecord r;
    r.sender = "=?utf-8?Q?S?=";
    r.subject = "=?utf-8?Q?T?=";
    r.date = "=?utf-8?Q?D?=";
    r.uid = "=?utf-8?Q?U?=";
    DecodeRecord(r, "", "", "");
    EXPECT_EQ(r.sender, "S");
    EXPECT_EQ(r.subject, "T");
    EXPECT_EQ(r.date, "=?utf-8?Q?D?=");
    EXPECT_EQ(r.uid, "=?utf-8?Q?U?=");
    EXPECT_EQ(r.preview, "");
}

} // namespace

namespace
{

// Every character set of the prefix table that the Windows version's decoder recognised
// decodes here.
class PrefixTableTest : public testing::TestWithParam<const char*>
{
};

TEST_P(PrefixTableTest, WordDecodes)
{
    const std::string word = std::string("=?") + GetParam() + "?Q?ok_=3D?=";
    EXPECT_EQ(DecodeWords("[" + word + "]"), "[ok =]") << word;
}

INSTANTIATE_TEST_SUITE_P(Mime, PrefixTableTest,
                         testing::Values("gb2312", "GBK", "ISO-8859-1", "hz-gb-2312", "iso8859-1",
                                         "big5", "utf-7", "utf-8", "646", "euc-jp", "shift_jis",
                                         "csiso2022jp", "iso-2022-jp", "ISO-8859-2", "ISO-8859-3",
                                         "ISO-8859-4", "ISO-8859-5", "ISO-8859-6", "ISO-8859-7",
                                         "ISO-8859-8", "ISO-8859-9", "iso8859-2", "iso8859-3",
                                         "iso8859-4", "iso8859-5", "iso8859-6", "iso8859-7",
                                         "iso8859-8", "iso8859-9"),
                         [](const auto& info) {
                             std::string name;
                             for (const char* p = info.param; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

} // namespace
