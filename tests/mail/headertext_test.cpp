#include "headertext.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>

namespace
{

struct FieldCase {
    const char* name;
    std::string text;
    const char* field;
    int occurrence;
    std::string want;
};

POSTWATCH_ROW_PRINTS_NAME(FieldCase)

class GetFieldTest : public testing::TestWithParam<FieldCase>
{
};

TEST_P(GetFieldTest, FindsUnfoldsAndTrims)
{
    const FieldCase& c = GetParam();
    EXPECT_EQ(HeaderText(c.text).GetField(c.field, c.occurrence), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    HeaderText, GetFieldTest,
    testing::Values(
        FieldCase{"FirstLine", "Subject: hello\r\nFrom: a\r\n\r\nbody", "Subject", 0, "hello"},
        FieldCase{"LowerCaseName", "from: a\r\nsubject: lower\r\n\r\n", "Subject", 0, "lower"},
        FieldCase{"FoldedWithTab", "Subject: one\r\n\ttwo\r\n  three\r\nX: y\r\n\r\n", "Subject", 0,
                  "one two  three"},
        FieldCase{"NameMustStartLine", "Resent-From: r@x\r\nFrom: f@x\r\n\r\n", "From", 0, "f@x"},
        FieldCase{"OnlyResentFrom", "Resent-From: r@x\r\n\r\n", "From", 0, ""},
        FieldCase{"ColonMustFollowName", "Subject : spaced\r\nSubjects: s\r\n\r\n", "Subject", 0,
                  ""},
        FieldCase{"SecondOccurrence", "Received: a\r\nReceived: b\r\n\r\n", "Received", 1, "b"},
        FieldCase{"MissingOccurrence", "Received: a\r\n\r\n", "Received", 1, ""},
        FieldCase{"NotInBody", "From: a\r\n\r\nSubject: in body\r\n", "Subject", 0, ""},
        FieldCase{"NoBlankLineWholeTextIsHeader", "From: a\r\nSubject: s", "Subject", 0, "s"},
        FieldCase{"EmptyValue", "Subject:\r\nFrom: a\r\n\r\n", "Subject", 0, ""},
        FieldCase{"BlanksOnly", "Subject: \t \r\n\r\n", "Subject", 0, ""},
        FieldCase{"ValueEndsAtTextEnd", "Subject: end\r\n", "Subject", 0, "end"},
        FieldCase{"BareLfIsNotALineStart", "X: a\nSubject: hidden\r\n\r\n", "Subject", 0, ""},
        FieldCase{"EmptyName", "Subject: s\r\n\r\n", "", 0, ""},
        FieldCase{"CrCrLfLineEnd", "From: a\r\r\nSubject: hi there\r\r\n\r\r\nbody", "Subject", 0,
                  "hi there"},
        FieldCase{"CrCrLfFolded", "Subject: one\r\r\n two\r\r\n\r\r\n", "Subject", 0, "one two"},
        FieldCase{"CrCrLfBodyNotHeader", "From: a\r\r\n\r\r\nSubject: in body\r\r\n", "Subject", 0,
                  ""},
        FieldCase{"TrailingBlanksAndCr", "Subject: end \t \r\r\n\r\n", "Subject", 0, "end"},
        FieldCase{"LoneCrInsideDropped", "Subject: a\rb\r\n\r\n", "Subject", 0, "ab"},
        FieldCase{"EmptyText", "", "Subject", 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct DateCase {
    const char* name;
    std::string value;
    std::string want;
};

POSTWATCH_ROW_PRINTS_NAME(DateCase)

class DateTextTest : public testing::TestWithParam<DateCase>
{
};

TEST_P(DateTextTest, Formats)
{
    const DateCase& c = GetParam();
    EXPECT_EQ(HeaderText::FormatDate(c.value), c.want);
    EXPECT_EQ(HeaderText("Date: " + c.value + "\r\n\r\n").DateText(), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    HeaderText, DateTextTest,
    testing::Values(
        DateCase{"WithWeekday", "Wed, 7 May 2003 10:20:30 +0800", "2003-05-07 10:20:30"},
        DateCase{"NoWeekday", "7 May 2003 10:20:30 +0800", "2003-05-07 10:20:30"},
        DateCase{"TwoDigitDay", "Tue, 23 Dec 2003 01:02:03 GMT", "2003-12-23 01:02:03"},
        DateCase{"CapitalMonthStays", "7 MAY 2003 10:20:30 +0800", "2003-MAY-07 10:20:30"},
        DateCase{"ChineseGbk", "7 \xCE\xE5\xD4\xC2 2003 10:20:30 +0800", "2003-05-07 10:20:30"},
        DateCase{"ChineseUtf8", "7 \xE4\xB8\x89\xE6\x9C\x88 2003 10:20:30 +0800",
                 "2003-03-07 10:20:30"},
        DateCase{"ChineseGbkTwelfth", "1 \xCA\xAE\xB6\xFE\xD4\xC2 2004 00:00:00 +0800",
                 "2004-12-01 00:00:00"},
        DateCase{"ChineseUtf8Eleventh",
                 "1 \xE5\x8D\x81\xE4\xB8\x80\xE6\x9C\x88 2004 00:00:00 +0800",
                 "2004-11-01 00:00:00"},
        DateCase{"ExtraBlanks", "Wed,  7  May  2003  10:20:30  +0800", "2003-05-07 10:20:30"},
        DateCase{"NoZoneKeepsTime", "7 May 2003 10:20:30", "2003-05-07 10:20:30"},
        DateCase{"UnknownMonthRawBytesBecomeUtf8", "7 \xE9t\xE9 2003 10:00 +0000",
                 "2003-\xC3\xA9t\xC3\xA9-07 10:00"},
        DateCase{"Empty", "", ""}, DateCase{"OnlyNumber", "7370951615", ""},
        DateCase{"FiveDigitYear", "7 May 99999 10:20:30 +0800", ""},
        DateCase{"DayNotNumber", "Wed 7 May 2003 10:20:30", ""},
        DateCase{"MissingYear", "7 May", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct SizeCase {
    const char* name;
    uint64_t octets;
    const char* want;
};

POSTWATCH_ROW_PRINTS_NAME(SizeCase)

class SizeTextTest : public testing::TestWithParam<SizeCase>
{
};

TEST_P(SizeTextTest, Kilobytes)
{
    EXPECT_EQ(HeaderText::SizeText(GetParam().octets), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    HeaderText, SizeTextTest,
    testing::Values(SizeCase{"Zero", 0, "0.00 K"}, SizeCase{"One", 9, "0.00 K"},
                    SizeCase{"TwoDigits", 45, "0.04 K"}, SizeCase{"NinetyNine", 99, "0.09 K"},
                    SizeCase{"Hundred", 100, "0.10 K"}, SizeCase{"ThreeDigits", 450, "0.45 K"},
                    SizeCase{"Thousand", 1000, "1.00 K"}, SizeCase{"FiveDigits", 12345, "12.34 K"},
                    SizeCase{"Mebibyte", 1048576, "1048.57 K"},
                    SizeCase{"Largest", UINT64_MAX, "18446744073709551.61 K"}),
    [](const auto& info) { return std::string(info.param.name); });

struct QueryCase {
    const char* name;
    std::string text;
    std::string preview, attachment, encoding, type, boundary, charset;
};

POSTWATCH_ROW_PRINTS_NAME(QueryCase)

class QueryTest : public testing::TestWithParam<QueryCase>
{
};

TEST_P(QueryTest, AnswersEachQuery)
{
    const QueryCase& c = GetParam();
    const HeaderText h(c.text);
    EXPECT_EQ(h.Preview(), c.preview);
    EXPECT_EQ(h.AttachmentFlag(), c.attachment);
    EXPECT_EQ(h.TransferEncoding(), c.encoding);
    EXPECT_EQ(h.ContentType(), c.type);
    EXPECT_EQ(h.Boundary(), c.boundary);
    EXPECT_EQ(h.Charset(), c.charset);
}

INSTANTIATE_TEST_SUITE_P(
    HeaderText, QueryTest,
    testing::Values(
        QueryCase{"PlainText", "Subject: s\r\n\r\nline 1\r\nline 2", "line 1\r\nline 2", "No", "",
                  "", "", ""},
        QueryCase{"NoBody", "Subject: s\r\n", "", "No", "", "", "", ""},
        QueryCase{"CrCrLfBodyFound", "Subject: s\r\r\n\r\r\nline 1\r\r\nline 2", "line 1\r\nline 2",
                  "No", "", "", "", ""},
        QueryCase{"InlineIsFlagged", "Content-Disposition: inline\r\n\r\nx", "", "Yes", "", "", "",
                  ""},
        QueryCase{
            "AttachmentInBodyPart",
            "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Disposition: "
            "ATTACHMENT; filename=a\r\n\r\nx",
            "--b\r\nContent-Disposition: ATTACHMENT; filename=a\r\n\r\nx", "Yes", "",
            "multipart/mixed", "b", ""},
        QueryCase{"DispositionInHeaderEmptiesPreview", "Content-Disposition: form-data\r\n\r\nbody",
                  "", "No", "", "", "", ""},
        QueryCase{"DispositionNeedsExactCase", "content-disposition: attachment\r\n\r\nbody",
                  "body", "No", "", "", "", ""},
        QueryCase{"EncodingFromFirstPart",
                  "Content-Type: multipart/alternative; boundary=\"x\"\r\n\r\n--x\r\n"
                  "Content-Transfer-Encoding: quoted-printable\r\n\r\na=3Db",
                  "--x\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\na=3Db", "No",
                  "quoted-printable", "multipart/alternative", "x", ""},
        QueryCase{"EncodingAnyCaseInHeader",
                  "Content-transfer-encoding:  base64 \r\nContent-Type: text/plain; "
                  "charset=\"gb2312\"\r\n\r\nYQ==",
                  "YQ==", "No", "base64", "text/plain", "", "gb2312"},
        QueryCase{"TypeWithoutParameters", "Content-Type: text/plain\r\n\r\nx", "x", "No", "", "",
                  "", ""},
        QueryCase{"UnquotedBoundary",
                  "Content-Type: multipart/mixed;\r\n boundary=simple; charset=utf-8\r\n\r\n", "",
                  "No", "", "multipart/mixed", "simple", "utf-8"},
        QueryCase{"BoundaryNameAnyCase", "Content-Type: multipart/mixed; BOUNDARY=\"a;b\"\r\n\r\n",
                  "", "No", "", "multipart/mixed", "a;b", ""},
        QueryCase{"BoundaryInsideQuotesIgnored",
                  "Content-Type: multipart/mixed; x=\"; boundary=no\"; boundary=yes\r\n\r\n", "",
                  "No", "", "multipart/mixed", "yes", ""},
        QueryCase{"UnterminatedQuote", "Content-Type: multipart/mixed; boundary=\"open\r\n\r\n", "",
                  "No", "", "multipart/mixed", "open", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HeaderTextFill, FillsSlotsAndDecodes)
{
    const HeaderText h("From: =?utf-8?B?w4lsaXNl?= <e@x>\r\n"
                       "Subject: Re: =?GB2312?Q?a_b?=\r\n"
                       "Date: Wed, 7 May 2003 10:20:30 +0800\r\n"
                       "Content-Type: text/plain; charset=iso-8859-1\r\n"
                       "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                       "caf=E9 =\r\nau lait");
    MessageRecord r;
    r.uid = "uid";
    h.Fill(r, 12345);
    EXPECT_EQ(r.sender, "\xC3\x89lise <e@x>");
    EXPECT_EQ(r.subject, "Re: a b");
    EXPECT_EQ(r.date, "2003-05-07 10:20:30");
    EXPECT_EQ(r.size, "12.34 K");
    EXPECT_EQ(r.preview, "caf\xC3\xA9 au lait");
    EXPECT_EQ(r.attachment, "No");
    EXPECT_EQ(r.uid, "uid");

    MessageRecord imap;
    imap.size = "kept";
    h.Fill(imap);
    EXPECT_EQ(imap.size, "kept");
}

// What reaches the store has no trailing blank or CR, whether the server sent CR CR LF line
// ends or an encoded word decodes to one.
struct StoredCase {
    const char* name;
    std::string text;
    std::string sender, subject, date;
};

class StoredValuesTest : public testing::TestWithParam<StoredCase>
{
};

TEST_P(StoredValuesTest, HaveNoTrailingBlankOrCr)
{
    const StoredCase& c = GetParam();
    MessageRecord r;
    HeaderText(c.text).Fill(r, 10);
    EXPECT_EQ(r.sender, c.sender);
    EXPECT_EQ(r.subject, c.subject);
    EXPECT_EQ(r.date, c.date);
}

INSTANTIATE_TEST_SUITE_P(
    HeaderText, StoredValuesTest,
    testing::Values(
        StoredCase{"CrLf", "From: Ann <a@x>\r\nSubject: hi\r\nDate: 7 May 2003 10:20:30\r\n\r\n",
                   "Ann <a@x>", "hi", "2003-05-07 10:20:30"},
        StoredCase{"CrCrLf",
                   "From: Ann <a@x>\r\r\nSubject: hi\r\r\nDate: 7 May 2003 10:20:30\r\r\n\r\r\nb",
                   "Ann <a@x>", "hi", "2003-05-07 10:20:30"},
        StoredCase{"EncodedTrailingBlank",
                   "From: =?utf-8?Q?Ann_?=\r\nSubject: =?utf-8?Q?hi=0D?=\r\n\r\n", "Ann", "hi", ""},
        StoredCase{"LeadingBlankKept", "Subject: =?utf-8?Q?_indented?=\r\n\r\n", "", " indented",
                   ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
