// Regression corpus: tests/data/mail/<shape>.eml is a raw header and first body lines as a
// server sends them; <shape>.expected is the record they must give (one "slot=value" line per
// slot, with \r, \n, \\ and \xHH escapes).
#include "headertext.h"
#include "support/tempdir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace
{

std::string DataDir()
{
    const char* root = std::getenv("POSTWATCH_TEST_DATA");
    return std::string(root ? root : "tests/data") + "/mail";
}

std::string Unescape(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        const char e = s[++i];
        if (e == 'r')
            out += '\r';
        else if (e == 'n')
            out += '\n';
        else if (e == 'x' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else
            out += e;
    }
    return out;
}

std::map<std::string, std::string> ReadExpected(const std::string& path)
{
    std::map<std::string, std::string> slots;
    const std::string text = ReadWholeFile(path);
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line(text.data() + from, end - from);
        const size_t eq = line.find('=');
        if (eq != std::string_view::npos)
            slots[std::string(line.substr(0, eq))] = Unescape(line.substr(eq + 1));
        from = end + 1;
    }
    return slots;
}

std::vector<std::string> Shapes()
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(DataDir(), ec))
        if (entry.path().extension() == ".eml")
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

class CorpusTest : public testing::TestWithParam<std::string>
{
};

TEST_P(CorpusTest, GivesExpectedRecord)
{
    const std::string base = DataDir() + "/" + GetParam();
    const std::string raw = ReadWholeFile(base + ".eml");
    ASSERT_FALSE(raw.empty());
    auto want = ReadExpected(base + ".expected");
    ASSERT_EQ(want.size(), 6u) << "malformed " << base << ".expected";

    MessageRecord r;
    HeaderText(raw).Fill(r, raw.size());
    EXPECT_EQ(r.sender, want["sender"]);
    EXPECT_EQ(r.subject, want["subject"]);
    EXPECT_EQ(r.date, want["date"]);
    EXPECT_EQ(r.size, want["size"]);
    EXPECT_EQ(r.preview, want["preview"]);
    EXPECT_EQ(r.attachment, want["attachment"]);
}

INSTANTIATE_TEST_SUITE_P(Mail, CorpusTest, testing::ValuesIn(Shapes()),
                         [](const auto& info) { return info.param; });

} // namespace
