// File names, flags, the unread rule and folder names of a Maildir: everything the provider
// reads from names on disk, which any program may have written.
#include "maildirname.h"
#include "maildirtree.h"
#include "modifiedutf7.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

enum class What {
    Name,   // MaildirName of `input` (in new/ when `inNew`)
    Folder, // MaildirTree::DisplayName of a directory name
    Utf7,   // ModifiedUtf7::Decode
};

struct NameRow {
    const char* name;
    What what;
    const char* input;
    bool inNew;
    // Name: "unique|flags|unread|stamp|size|with T", "invalid" for no message;
    // Folder and Utf7: the text shown ("" for no folder).
    const char* want;
};
POSTWATCH_ROW_PRINTS_NAME(NameRow)

std::string Describe(const NameRow& row)
{
    switch (row.what) {
    case What::Name: {
        const MaildirName n(row.input);
        if (!n.Valid())
            return "invalid";
        return n.Unique() + "|" + n.Flags() + "|" + (n.Unread(row.inNew) ? "unread" : "read") +
               "|" + std::to_string(n.Stamp()) + "|" + std::to_string(n.SizeHint()) + "|" +
               n.WithFlag('T');
    }
    case What::Folder:
        return MaildirTree::DisplayName(row.input);
    case What::Utf7:
        return ModifiedUtf7::Decode(row.input);
    }
    return {};
}

const NameRow kRows[] = {
    // Delivered names, as a delivery agent writes them into new/.
    {"NewWithoutInfo", What::Name, "1733600000.M1P2.host", true,
     "1733600000.M1P2.host||unread|1733600000|0|1733600000.M1P2.host:2,T"},
    {"DeliveryAgentSize", What::Name, "1796687259.M748708P25353.vm,S=46,W=50", true,
     "1796687259.M748708P25353.vm,S=46,W=50||unread|1796687259|46|"
     "1796687259.M748708P25353.vm,S=46,W=50:2,T"},
    // The same message in cur/: its unique part stays, the flags decide.
    {"CurSeen", What::Name, "1733600000.M1P2.host:2,S", false,
     "1733600000.M1P2.host|S|read|1733600000|0|1733600000.M1P2.host:2,ST"},
    {"CurFlaggedNotSeen", What::Name, "1733600000.M1P2.host:2,FR", false,
     "1733600000.M1P2.host|FR|unread|1733600000|0|1733600000.M1P2.host:2,FRT"},
    {"CurNoInfo", What::Name, "1733600000.x", false,
     "1733600000.x||unread|1733600000|0|1733600000.x:2,T"},
    {"TrashedNeverUnread", What::Name, "1.x:2,T", false, "1.x|T|read|1|0|1.x:2,T"},
    {"TrashedInNew", What::Name, "1.x:2,T", true, "1.x|T|read|1|0|1.x:2,T"},
    {"FlagsKeptInOrder", What::Name, "1.x:2,DFS", false, "1.x|DFS|read|1|0|1.x:2,DFST"},
    {"KeywordsAfterFlags", What::Name, "1.x:2,Sab", false, "1.x|Sab|read|1|0|1.x:2,STab"},
    {"OtherInfoVersion", What::Name, "1.x:1,S", false, "1.x||unread|1|0|1.x:2,T"},
    {"EmptyFlags", What::Name, "1.x:2,", false, "1.x||unread|1|0|1.x:2,T"},
    // Names that give no delivery time or no size.
    {"NoStamp", What::Name, "mail-from-elsewhere", true,
     "mail-from-elsewhere||unread|0|0|mail-from-elsewhere:2,T"},
    {"StampTooLong", What::Name, "123456789012.x", true,
     "123456789012.x||unread|0|0|123456789012.x:2,T"},
    {"StampNotDigits", What::Name, "12a4.x", true, "12a4.x||unread|0|0|12a4.x:2,T"},
    {"SizeNotDigits", What::Name, "1.x,S=abc", true, "1.x,S=abc||unread|1|0|1.x,S=abc:2,T"},
    {"SizeAbsurd", What::Name, "1.x,S=99999999999999999999", true,
     "1.x,S=99999999999999999999||unread|1|0|1.x,S=99999999999999999999:2,T"},
    // Must fail: no message at all.
    {"EmptyName", What::Name, "", true, "invalid"},
    {"HiddenFile", What::Name, ".nfs0001", true, "invalid"},
    {"OnlyInfo", What::Name, ":2,S", false, "invalid"},
    // Folder names (Maildir++).
    {"Folder", What::Folder, ".Sent", false, "Sent"},
    {"NestedFolder", What::Folder, ".Lists.Debian", false, "Lists/Debian"},
    {"EncodedFolder", What::Folder, ".Entw&APw-rfe", false, "Entwürfe"},
    {"EncodedNested", What::Folder, ".&ZeVnLIqe-.&U,BTFw-", false, "日本語/台北"},
    {"NotAFolderNoDot", What::Folder, "cur", false, ""},
    {"NotAFolderDots", What::Folder, "..", false, ""},
    {"NotAFolderEmptyLevel", What::Folder, ".a..b", false, ""},
    {"NotAFolderTrailingDot", What::Folder, ".a.", false, ""},
    // Modified UTF-7 (RFC 3501 section 5.1.3).
    {"Ampersand", What::Utf7, "Tom &- Jerry", false, "Tom & Jerry"},
    {"SurrogatePair", What::Utf7, "&2D3eAA-", false, "\xF0\x9F\x98\x80"},
    {"Utf8AsWritten", What::Utf7, "Entw\xC3\xBCrfe", false, "Entwürfe"},
    {"BadBytesReplaced", What::Utf7, "a\xFF", false, "a\xEF\xBF\xBD"},
    // Malformed runs stay as written.
    {"UnclosedRun", What::Utf7, "a&AOQ", false, "a&AOQ"},
    {"BadBase64", What::Utf7, "&A*Q-", false, "&A*Q-"},
    {"LoneHighSurrogate", What::Utf7, "&2D0-", false, "&2D0-"},
    {"LoneLowSurrogate", What::Utf7, "&3gA-", false, "&3gA-"},
    {"EncodedAscii", What::Utf7, "&AGE-", false, "&AGE-"},
    {"EncodedNul", What::Utf7, "&AAA-", false, "&AAA-"},
    {"EncodedLineBreak", What::Utf7, "a&AAo-b", false, "a&AAo-b"},
    {"OddBitsLeft", What::Utf7, "&AOQA-", false, "&AOQA-"},
};

class MaildirNames : public ::testing::TestWithParam<NameRow>
{
};

TEST_P(MaildirNames, ReadAsExpected)
{
    EXPECT_EQ(Describe(GetParam()), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Table, MaildirNames, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
