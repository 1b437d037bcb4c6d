// What the provider reads of one message file: decoded header fields, the first text part
// of the body within the limit, the attachment flag, and what a damaged file still gives.
#include "maildirfixture.h"
#include "maildirprovider.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

struct DetailsRow {
    const char* name;
    const char* fileName;  // in cur/ when it has ":2,", else in new/
    const char* content;   // null: no such file
    std::string (*make)(); // builds the content when set
    uint32_t bodyLimit;
    bool found;
    const char* subject;
    const char* sender;
    const char* email;
    bool attachment;
    bool hasBody;
    const char* body;
    bool problem; // readProblem is set
    std::time_t delivered;
};
POSTWATCH_ROW_PRINTS_NAME(DetailsRow)

std::string LongHeader()
{
    std::string text = "Subject: still read\nFrom: ann@example.org\n";
    while (text.size() < 300 * 1024)
        text += "X-Pad: " + std::string(70, 'p') + "\n";
    return text + "\nbody\n";
}

std::string AttachmentFarAway()
{
    return std::string("Subject: big\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                       "Content-Type: text/plain\n\nfirst words\n") +
           std::string(1024 * 1024, 'x') +
           "\n--b\nContent-Type: application/pdf\nContent-Disposition: attachment; "
           "filename=a.pdf\n\nJVBERi0=\n--b--\n";
}

const DetailsRow kRows[] = {
    {"PlainMessage", "1796687259.M1P1.host",
     "From: Ann Example <ann@example.org>\nSubject: Hello\nDate: Mon, 7 Dec 2026 10:00:00 "
     "+0100\n\nHi there\n",
     nullptr, 1024, true, "Hello", "Ann Example", "ann@example.org", false, true, "Hi there\r\n",
     false, 1796687259},
    {"DateWhenNameHasNoStamp", "delivered-by-hand",
     "Subject: x\nDate: Mon, 7 Dec 2026 10:00:00 +0100 (CET)\n\n", nullptr, 1024, true, "x", "", "",
     false, true, "", false, 1796634000},
    {"EncodedWords", "2.a:2,",
     "From: =?ISO-8859-1?Q?J=F6rg_M=FCller?= <j@example.de>\nSubject: "
     "=?UTF-8?B?w5xiZXJ3ZWlzdW5n?=\n\nx",
     nullptr, 1024, true, "Überweisung", "Jörg Müller", "j@example.de", false, true, "x", false, 2},
    {"QuotedNameWithComma", "3.a", "From: \"Doe, John\" <john@example.com>, other@x\n\n", nullptr,
     1024, true, "", "Doe, John", "john@example.com", false, true, "", false, 3},
    {"AddressOnly", "4.a", "From: bob@example.com\n\n", nullptr, 1024, true, "", "bob@example.com",
     "bob@example.com", false, true, "", false, 4},
    {"NameInComment", "5.a", "From: bob@example.com (Bob Builder)\n\n", nullptr, 1024, true, "",
     "Bob Builder", "bob@example.com", false, true, "", false, 5},
    {"EightBitAddress", "6.b",
     "From: -b\xEE"
     "b@x\n\n",
     nullptr, 1024, true, "", "-bîb@x", "-bîb@x", false, true, "", false, 6},
    {"EightBitHeader", "6.a",
     "Subject: Gr\xFC\xDF"
     "e\n\n",
     nullptr, 1024, true, "Grüße", "", "", false, true, "", false, 6},
    {"Latin1QuotedPrintable", "7.a",
     "Content-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: "
     "quoted-printable\n\nGr=FC=DFe",
     nullptr, 1024, true, "", "", "", false, true, "Grüße", false, 7},
    {"Koi8Base64", "8.a",
     "Content-Type: text/plain; charset=koi8-r\nContent-Transfer-Encoding: base64\n\n8NLJ18XU\n",
     nullptr, 1024, true, "", "", "", false, true, "Привет", false, 8},
    {"PlainPartOfAlternative", "9.a",
     "Content-Type: multipart/alternative; boundary=\"b\"\n\npreamble\n--b\nContent-Type: "
     "text/plain; charset=utf-8\n\nplain text\n--b\nContent-Type: "
     "text/html\n\n<p>html</p>\n--b--\n",
     nullptr, 1024, true, "", "", "", false, true, "plain text", false, 9},
    {"HtmlOnly", "10.a",
     "Content-Type: multipart/alternative; boundary=b\n\n--b\nContent-Type: "
     "text/html\n\n<p>html</p>\n--b--\n",
     nullptr, 1024, true, "", "", "", false, true, "<p>html</p>", false, 10},
    {"AttachmentBeforeText", "11.a",
     "Content-Type: multipart/mixed; boundary=o\n\n--o\nContent-Type: application/pdf\n"
     "Content-Disposition: attachment; filename=x.pdf\nContent-Transfer-Encoding: base64\n\n"
     "JVBERi0=\n--o\nContent-Type: multipart/alternative; boundary=i\n\n--i\nContent-Type: "
     "text/plain\n\nnested text\n--i--\n--o--\n",
     nullptr, 1024, true, "", "", "", true, true, "nested text", false, 11},
    {"AttachmentPastTheWindow", "12.a", nullptr, AttachmentFarAway, 16, true, "big", "", "", true,
     true, "first words\r\nxxx", false, 12},
    {"BodyCutAtCharacter", "13.a",
     "Content-Type: text/plain; charset=utf-8\n\n\xC3\xA9\xC3\xA9\xC3\xA9", nullptr, 5, true, "",
     "", "", false, true, "\xC3\xA9\xC3\xA9", false, 13},
    {"BodyCutAtFourByteCharacter", "14.a",
     "Content-Type: text/plain; charset=utf-8\n\nab\xF0\x9F\x98\x80", nullptr, 5, true, "", "", "",
     false, true, "ab", false, 14},
    {"NoTextPart", "15.a", "Content-Type: image/png\nContent-Transfer-Encoding: base64\n\niVBO",
     nullptr, 1024, true, "", "", "", false, false, "", false, 15},
    {"HeaderWithoutEnd", "16.a", "Subject: cut he", nullptr, 1024, true, "cut he", "", "", false,
     true, "", false, 16},
    {"EmptyFile", "17.a", "", nullptr, 1024, true, "", "", "", false, true, "", false, 17},
    // Damaged files: what was read, and the problem named.
    {"ShorterThanItsName", "18.a,S=5000:2,S", "Subject: half\n\nthe rest is missi", nullptr, 1024,
     true, "half", "", "", false, true, "the rest is missi", true, 18},
    {"HeaderTooLong", "19.a", nullptr, LongHeader, 1024, true, "still read", "ann@example.org",
     "ann@example.org", false, true, "", true, 19},
    // Must fail: no such message.
    {"Missing", "20.a", nullptr, nullptr, 1024, false, "", "", "", false, false, "", false, 0},
};

class MaildirDetails : public ::testing::TestWithParam<DetailsRow>
{
};

TEST_P(MaildirDetails, ReadsWhatTheRecordNeeds)
{
    const DetailsRow& row = GetParam();
    TempDir dir;
    const std::string maildir = dir.File("Maildir");
    MakeMaildir(maildir);
    const std::string fileName = row.fileName;
    const bool inCur = fileName.find(":2,") != std::string::npos;
    if (row.content || row.make)
        WriteWholeFile(maildir + (inCur ? "/cur/" : "/new/") + fileName,
                       row.make ? row.make() : std::string(row.content));
    MaildirProvider provider({{"Test", {maildir}}});
    ProviderMessageDetails details;
    const std::string entryId = fileName.substr(0, fileName.find(':'));
    ASSERT_EQ(provider.Details(maildir, entryId, row.bodyLimit, details), row.found);
    if (!row.found)
        return;
    EXPECT_EQ(details.subject, row.subject);
    EXPECT_EQ(details.senderName, row.sender);
    EXPECT_EQ(details.senderEmail, row.email);
    EXPECT_EQ(details.hasAttachment, row.attachment);
    EXPECT_EQ(details.hasBody, row.hasBody);
    EXPECT_EQ(details.body, row.body);
    EXPECT_LE(details.body.size(), row.bodyLimit);
    EXPECT_EQ(!details.readProblem.empty(), row.problem) << details.readProblem;
    EXPECT_EQ(details.deliveryTime, row.delivered);
}

INSTANTIATE_TEST_SUITE_P(Table, MaildirDetails, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// A message the user cannot read (another owner's file, mode 0) is there all the same: it is
// reported with its size and time and the reason, not taken for gone and passed over. As
// root, which reads everything, the reading runs in a child as "nobody".
TEST(MaildirDetailsUnreadable, GivesWhatIsKnownAndWhy)
{
    TempDir dir;
    const std::string maildir = dir.File("Maildir");
    MakeMaildir(maildir);
    const std::string name = "1796687259.M1P1.host";
    const std::string path = maildir + "/new/" + name;
    const std::string content = "Subject: secret\n\nHidden\n";
    WriteWholeFile(path, content);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    for (const std::string& d : {dir.Path(), maildir, maildir + "/new"})
        ASSERT_EQ(::chmod(d.c_str(), 0755), 0);
    MaildirProvider provider({{"Test", {maildir}}});
    auto read = [&]() -> int {
        ProviderMessageDetails details;
        if (!provider.Details(maildir, name, 100, details))
            return 1; // taken for gone
        if (details.readProblem.empty() || !details.subject.empty())
            return 2; // read after all: the check proves nothing
        return details.size == content.size() && details.deliveryTime == 1796687259 ? 0 : 3;
    };
    if (::geteuid() != 0) {
        EXPECT_EQ(read(), 0);
        return;
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(4);
        ::_exit(read());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: taken for gone, 2: read as root, 3: wrong size or time";
}

// An identifier handed back from outside never reaches a path outside the folder.
TEST(MaildirDetailsIds, RefusesPathsAsIds)
{
    TempDir dir;
    MakeMaildir(dir.File("m"));
    WriteWholeFile(dir.File("m/secret"), "Subject: no\n\n");
    MaildirProvider provider({{"Test", {dir.File("m")}}});
    ProviderMessageDetails details;
    for (const char* id : {"../secret", "..", "", "a/b", "x:2,S"})
        EXPECT_FALSE(provider.Details(dir.File("m"), id, 100, details)) << id;
}

} // namespace
