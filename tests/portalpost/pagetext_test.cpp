// Entity decoding of page texts, and the page scanner's answers to damaged or unusual markup
// (the usual pages are read end to end in yahooweb_test.cpp).
#include "htmlentities.h"
#include "pagescanner.h"
#include "support/tablerow.h"

#include <functional>
#include <gtest/gtest.h>

namespace
{

struct EntityCase {
    const char* name;
    std::string text;
    std::string want;
};

POSTWATCH_ROW_PRINTS_NAME(EntityCase)

class EntityTest : public testing::TestWithParam<EntityCase>
{
};

TEST_P(EntityTest, DecodesOnce)
{
    EXPECT_EQ(DecodeHtmlEntities(GetParam().text), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Entities, EntityTest,
    testing::Values(
        EntityCase{"AmpThenLtStaysLt", "&amp;lt;", "&lt;"},
        EntityCase{"AmpThenCopyIsNoControlByte", "&amp;copy;", "&copy;"},
        EntityCase{"MarkupCharacters", "&lt;&gt;&amp;&apos;", "<>&'"},
        EntityCase{"QuotIsDoubleQuote", "&quot;x&quot;", "\"x\""},
        EntityCase{"NbspIsNoBreakSpace", "a&nbsp;b",
                   "a\xC2\xA0"
                   "b"},
        EntityCase{"SymbolsInUtf8", "&copy;&reg;&trade;&yen;&sect;",
                   "\xC2\xA9\xC2\xAE\xE2\x84\xA2\xC2\xA5\xC2\xA7"},
        EntityCase{"QuotesAndAccents", "&laquo;&raquo;&acute;&curren;&ordf;",
                   "\xC2\xAB\xC2\xBB\xC2\xB4\xC2\xA4\xC2\xAA"},
        EntityCase{"NamesAreCaseSensitive", "&Auml;&auml;&AUML;", "\xC3\x84\xC3\xA4&AUML;"},
        EntityCase{"Decimal", "it&#39;s &#8364;", "it's \xE2\x82\xAC"},
        EntityCase{"Hexadecimal", "&#x2019;&#X41;&#x1F600;",
                   "\xE2\x80\x99"
                   "A\xF0\x9F\x98\x80"},
        EntityCase{"UnknownNameStays", "&bogus; &amp", "&bogus; &amp"},
        EntityCase{"AmpersandRunsThenReference", "&&amp;&", "&&&"},
        EntityCase{"BeyondUnicodeStays", "&#x110000;&#1114112;", "&#x110000;&#1114112;"},
        EntityCase{"SurrogateStays", "&#xD800;", "&#xD800;"},
        EntityCase{"NulStays", "a&#0;b", "a&#0;b"},
        EntityCase{"EmptyAndDigitless", "&; &#; &#x; &#12a;", "&; &#; &#x; &#12a;"},
        EntityCase{"HugeNumberDoesNotWrap", "&#4294967361;", "&#4294967361;"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ScanCase {
    const char* name;
    std::string page;
    std::function<std::string(const PageScanner&)> ask;
    std::string want;
};

POSTWATCH_ROW_PRINTS_NAME(ScanCase)

class ScanTest : public testing::TestWithParam<ScanCase>
{
};

TEST_P(ScanTest, Answers)
{
    const PageScanner scanner(GetParam().page);
    EXPECT_EQ(GetParam().ask(scanner), GetParam().want);
}

std::string FormOf(const PageScanner& s, const char* name)
{
    const auto form = s.Form(name);
    return form ? std::string(*form) : "none";
}

std::string InputValue(const PageScanner& s, const char* name)
{
    size_t pos = 0;
    const auto input = s.NextInput(pos, name);
    return input ? PageScanner::Attribute(*input, "value").value_or("none") : "no input";
}

std::string Link(const PageScanner& s, const char* prefix)
{
    size_t pos = 0;
    return std::string(s.NextLink(pos, prefix).value_or("none"));
}

std::string RowSenders(const PageScanner& s)
{
    std::string out;
    for (const ListedMessage& m : s.RowMessages())
        out += m.id + ":" + m.sender + ":" + m.subject + ":" + m.link + ";";
    return out;
}

std::string TableSummary(const PageScanner& s)
{
    std::string out;
    for (const ListedMessage& m : s.TableMessages())
        out += m.id + ":" + m.sender + ":" + m.date + ":" + m.size + ":" + m.subject + ":" +
               (m.attachment ? "Y" : "N") + ";";
    return out;
}

const std::string kLongLink = "<a href=\"/ym/ShowFolder?YY=" + std::string(5000, 'a') + "\">";

INSTANTIATE_TEST_SUITE_P(
    Pages, ScanTest,
    testing::Values(
        ScanCase{"FormNeverClosedIsNone", "<form name=messageList action=/d><input>",
                 [](const PageScanner& s) { return FormOf(s, "messageList"); }, "none"},
        ScanCase{"FormNameQuotedAnyCase", "<p><FORM NAME=\"login_form\" action=/x>in</Form>",
                 [](const PageScanner& s) { return FormOf(s, "login_form"); },
                 "<FORM NAME=\"login_form\" action=/x>in</Form>"},
        ScanCase{"FormWithOtherNameIsNotIt", "<form name=login_form2>a</form>",
                 [](const PageScanner& s) { return FormOf(s, "login_form"); }, "none"},
        ScanCase{"UnclosedValueQuoteIsNone", "<input name=\".crumb\" value=\"abc>",
                 [](const PageScanner& s) { return InputValue(s, ".crumb"); }, "none"},
        ScanCase{"QuotedValueKeepsBlanks", "<input value='a b' name=\".challenge\">",
                 [](const PageScanner& s) { return InputValue(s, ".challenge"); }, "a b"},
        ScanCase{"TagCutShortIsNoInput", "<input name=\".crumb\" value=\"abc\"",
                 [](const PageScanner& s) { return InputValue(s, ".crumb"); }, "no input"},
        ScanCase{"LinkEndsAtQuote", "<a href=\"/ym/ShowFolder?YY=1&amp;box=In\">In</a>",
                 [](const PageScanner& s) { return Link(s, "/ym/ShowFolder?YY="); },
                 "/ym/ShowFolder?YY=1&amp;box=In"},
        ScanCase{"LinkWithoutEndIsNone", kLongLink,
                 [](const PageScanner& s) { return Link(s, "/ym/ShowFolder?YY="); }, "none"},
        ScanCase{"CountNeedsDigits",
                 "<a href=\"/ym/ShowFolder?YY=1\">In</a> (new) <a href=\"/ym/ShowFolder?YY=2\">"
                 "B</a> (<b>3</b>)",
                 [](const PageScanner& s) {
                     return std::to_string(s.CountFollows("/ym/ShowFolder?YY=1", "/ym/")) +
                            std::to_string(s.CountFollows("/ym/ShowFolder?YY=2", "/ym/"));
                 },
                 "01"},
        ScanCase{"CountOfALongerLinkIsNotOurs",
                 "<a href=\"/ym/ShowFolder?YY=10\">X</a> (3) <a href=\"/ym/ShowFolder?YY=1\">Y</a>",
                 [](const PageScanner& s) {
                     return std::to_string(s.CountFollows("/ym/ShowFolder?YY=1", "/ym/"));
                 },
                 "0"},
        ScanCase{"DistinctLinksIgnoreCaseAndStopAtTen",
                 [] {
                     std::string p =
                         "<a href=\"/ym/ShowFolder?YY=a\"><a href=\"/ym/ShowFolder?YY=A\">";
                     for (int i = 0; i < 12; ++i)
                         p += "<a href=\"/ym/ShowFolder?YY=" + std::to_string(i) + "\">";
                     return p;
                 }(),
                 [](const PageScanner& s) {
                     const auto links = s.DistinctLinks("/ym/ShowFolder?YY=");
                     return std::to_string(links.size()) + links.front() + links.back();
                 },
                 "10/ym/ShowFolder?YY=a/ym/ShowFolder?YY=8"},
        ScanCase{"RowsOnlyUnreadBrIsNotBold",
                 "<tr class=\"x msgnew\"><td><input name=Mid value=m1></td><td><br>x<b>S</b></td>"
                 "<td><b>Sub</b></td></tr><tr class=msgold><td><input name=Mid value=m2></td></tr>"
                 "<tr class=msgnew><td><b>no id</b></td></tr>",
                 RowSenders, "m1:S:Sub:;"},
        ScanCase{"RowAttachmentMarkCut",
                 "<tr class=msgnew><input name=\"Mid\" value=\"m\"><a href=\"/ym/ShowLetter?MsgId=m"
                 "&amp;#attachments\"><b> &nbsp;</b></a></tr>",
                 RowSenders, "m: ::/ym/ShowLetter?MsgId=m;"},
        ScanCase{"TableMissingCellsStayEmpty",
                 "<input name=\"Mid\" value=\"t1\"><td><b>A</b>\n</td><td><b>Mon</b></td>"
                 "<input name=\"Mid\" value=\"t2\"><td><b>B</b></td><td><b>D</b></td><td><b>9k"
                 "</b></td><td><b><a href=\"/ym/ShowLetter?MsgId=t2\">Hi</a></b></td>"
                 "<a href=\"/ym/ShowLetter?toc=1&amp;MsgId=t2\">",
                 TableSummary, "t1:A:Mon:::N;t2:B:D:9k:Hi:Y;"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
