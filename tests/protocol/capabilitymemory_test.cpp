// The capabilities remembered between checks: the cache file's layout (anything malformed
// reads as nothing remembered), and a round trip through an account folder.

#include "apppaths.h"
#include "capabilitymemory.h"
#include "support/tempdir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace
{

struct FileRow {
    const char* name;
    std::string text;
    bool parses;
    std::vector<std::string> capabilities;
};

void PrintTo(const FileRow& row, std::ostream* os)
{
    *os << row.name;
}

class CapabilityFile : public testing::TestWithParam<FileRow>
{
};

TEST_P(CapabilityFile, Parse)
{
    const FileRow& row = GetParam();
    std::string server;
    std::vector<std::string> caps;
    ASSERT_EQ(CCapabilityMemory::Parse(row.text, server, caps), row.parses);
    if (!row.parses)
        return;
    EXPECT_EQ(caps, row.capabilities);
    EXPECT_EQ(CCapabilityMemory::Format(server, caps), row.text); // written back unchanged
}

const std::string kServer = "POP3 mail.example.org 995 TLS\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, CapabilityFile,
    testing::Values(
        FileRow{"TwoWords", kServer + "PIPELINING UIDL\n", true, {"PIPELINING", "UIDL"}},
        FileRow{"NoCapabilities", kServer + "\n", true, {}}, FileRow{"Empty", "", false, {}},
        FileRow{"ServerOnly", kServer, false, {}},
        FileRow{"NoFinalNewline", kServer + "UIDL", false, {}},
        FileRow{"ThirdLine", kServer + "UIDL\nUSER\n", false, {}},
        FileRow{"CarriageReturn", kServer + "UIDL\r\n", false, {}},
        FileRow{"DoubleBlank", kServer + "UIDL  USER\n", false, {}},
        FileRow{"ControlByte",
                kServer + "UI\x01"
                          "DL\n",
                false,
                {}},
        FileRow{"EightBit", kServer + "UID\xc3\xa4\n", false, {}},
        FileRow{"ServerOfThreeWords", "POP3 host 110\nUIDL\n", false, {}},
        FileRow{"WordTooLong", kServer + std::string(65, 'X') + "\n", false, {}},
        FileRow{"TooManyWords",
                kServer +
                    [] {
                        std::string line;
                        for (int i = 0; i < 65; ++i)
                            line += (i ? " C" : "C") + std::to_string(i);
                        return line + "\n";
                    }(),
                false,
                {}},
        FileRow{"TooLong", kServer + std::string(5000, 'X') + "\n", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// What a check remembers comes back for the same server only, from memory or from the
// account folder; a damaged file is nothing remembered, and is replaced by the next check.
TEST(CapabilityMemory, AccountFolderRoundTrip)
{
    TempDir home;
    ScopedEnv env{"POSTWATCH_HOME", home.Path()};
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("Work")));
    const std::string server = CCapabilityMemory::ServerKey("IMAP4", "imap.example.org", 993, "");
    const std::string file = AppPaths::AccountDir("Work") + "/Capabilities";

    CCapabilityMemory first(CCapabilityMemory::Keep::InAccountFolder);
    first.Remember("Work", server, {"IMAP4REV1", "bad word", "SASL-IR"});
    first.Remember("Gone", server, {"IMAP4REV1"}); // no folder: memory only, no file made
    EXPECT_FALSE(std::ifstream(AppPaths::AccountDir("Gone") + "/Capabilities").good());

    CCapabilityMemory next(CCapabilityMemory::Keep::InAccountFolder);
    EXPECT_EQ(next.Recall("Work", server), (std::vector<std::string>{"IMAP4REV1", "SASL-IR"}));
    EXPECT_TRUE(
        next.Recall("Work", CCapabilityMemory::ServerKey("IMAP4", "other", 993, "")).empty());

    std::ofstream(file, std::ios::trunc) << "IMAP4 imap.example.org 993 -\nIMAP4REV1\x7f\n";
    CCapabilityMemory damaged(CCapabilityMemory::Keep::InAccountFolder);
    EXPECT_TRUE(damaged.Recall("Work", server).empty());
    damaged.Remember("Work", server, {"IMAP4REV1"});
    CCapabilityMemory repaired(CCapabilityMemory::Keep::InAccountFolder);
    EXPECT_EQ(repaired.Recall("Work", server), (std::vector<std::string>{"IMAP4REV1"}));

    repaired.Remember("Work", server, {}); // forgetting removes the file
    EXPECT_FALSE(std::ifstream(file).good());

    CCapabilityMemory memory(CCapabilityMemory::Keep::InMemory);
    memory.Remember("Work", server, {"IMAP4REV1"});
    EXPECT_EQ(memory.Recall("Work", server), (std::vector<std::string>{"IMAP4REV1"}));
    EXPECT_FALSE(std::ifstream(file).good()); // the desktop writes no file
}

} // namespace
