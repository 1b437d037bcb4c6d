#include "registrykey.h"
#include "registryname.h"
#include "support/filefaults.h"
#include "support/tempdir.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

const std::string kApp = "Software\\Koravel\\Pigeonpost";

// Every test gets its own configuration and data folders.
class RegistryTest : public ::testing::Test
{
protected:
    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", dir.File("sysconfig") + ":" + dir.File("other")};
    ScopedEnv dataHome{"XDG_DATA_HOME", dir.File("data")};
    ScopedEnv dataDirs{"XDG_DATA_DIRS", dir.File("sysdata")};

    std::string ConfFile() const { return dir.File("config/Koravel/Pigeonpost.conf"); }

    void OpenOrDie(CRegistryKey& key, const std::string& path)
    {
        ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, path), 1) << path;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, path), 1) << path;
    }
};

bool IsFileThere(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST_F(RegistryTest, ValueNamesIgnoreCase)
{
    struct Row {
        const char* label;
        std::string written;
        std::string read;
        bool found;
    };
    const Row rows[] = {
        {"same spelling", "Timeout", "Timeout", true},
        {"other case", "Timeout", "TimeOut", true},
        {"non-ASCII other case", "\xC3\x84rger", "\xC3\xA4RGER", true}, // Ärger / äRGER
        {"slash inside", "in/out", "IN/OUT", true},
        {"backslash inside", "in\\out", "In\\Out", true},
        {"percent kept literally", "100%", "100%", true},
        {"escape text is not a slash", "a%2Fb", "a/b", false},
        {"slash is not escape text", "a/b", "a%2Fb", false},
        {"space matters", "Timeout", "Time out", false},
        {"prefix is not the name", "Timeout", "Time", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        CRegistryKey key;
        OpenOrDie(key, kApp + "\\Names");
        ASSERT_EQ(key.WriteString(row.written, "v"), 1);
        std::string value = "junk";
        EXPECT_EQ(key.ReadString(row.read, value), row.found ? 1 : 0);
        EXPECT_EQ(value, row.found ? "v" : "");
        EXPECT_EQ(key.LastError(), row.found ? 0 : ENOENT);
        ASSERT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, kApp + "\\Names"), 1);
    }
}

TEST_F(RegistryTest, WritingUnderAnotherCaseOverwrites)
{
    CRegistryKey key;
    OpenOrDie(key, kApp + "\\Network");
    ASSERT_EQ(key.WriteString("Timeout", "60"), 1);
    ASSERT_EQ(key.WriteString("TIMEOUT", "30"), 1);
    std::string value;
    ASSERT_EQ(key.ReadString("timeout", value), 1);
    EXPECT_EQ(value, "30");
    std::string text = ReadWholeFile(ConfFile());
    std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    size_t first = text.find("timeout=");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.find("timeout=", first + 1), std::string::npos) << "one value, not two";
    ASSERT_EQ(key.DeleteValue("TimeOut"), 1);
    EXPECT_EQ(key.ReadString("Timeout", value), 0);
    EXPECT_EQ(key.LastError(), ENOENT);
}

TEST_F(RegistryTest, SubkeysEnumerateCaseInsensitively)
{
    struct Row {
        const char* label;
        std::vector<std::string> created; // plain names
        std::vector<std::string> listed;
    };
    const Row rows[] = {
        {"mixed case", {"beta", "Alpha", "gamma", "Delta"}, {"Alpha", "beta", "Delta", "gamma"}},
        {"capitals do not sort first", {"b", "A", "a2", "B1"}, {"A", "a2", "b", "B1"}},
        {"separators inside names", {"x/y", "x\\z", "x"}, {"x", "x/y", "x\\z"}},
        {"non-ASCII",
         {"\xC3\xBC"
          "ber",
          "Zebra", "apfel"},
         {"apfel", "Zebra",
          "\xC3\xBC"
          "ber"}},
        {"percent names", {"50%", "%2F"}, {"%2F", "50%"}},
        {"empty list", {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string parent = kApp + "\\Filter Manager";
        CRegistryKey key;
        OpenOrDie(key, parent);
        for (const auto& name : row.created) {
            std::string path = parent + "\\" + CRegistryKey::EscapeKeyName(name);
            ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, path), 1) << name;
            CRegistryKey child;
            EXPECT_EQ(child.Open(RegistryRoot::CurrentUser, path), 1) << name;
        }
        std::vector<std::string> names;
        ASSERT_EQ(key.EnumSubKeys(names), 1);
        EXPECT_EQ(names, row.listed);
        ASSERT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, parent), 1);
    }
}

TEST_F(RegistryTest, KeyPathsResolve)
{
    CRegistryKey maker;
    ASSERT_EQ(maker.CreateKey(RegistryRoot::CurrentUser, kApp + "\\Filter Manager\\Spam\\Deep"), 1);
    struct Row {
        const char* label;
        std::string path;
        int result;
        int error;
    };
    const Row rows[] = {
        {"software", "Software", 1, 0},
        {"company", "Software\\Koravel", 1, 0},
        {"company other case", "SOFTWARE\\koravel", 1, 0},
        {"application", kApp, 1, 0},
        {"empty key", kApp + "\\Filter Manager", 1, 0},
        {"nested other case", kApp + "\\filter manager\\SPAM\\deep", 1, 0},
        {"missing group", kApp + "\\Notify", 0, ENOENT},
        {"missing file", "Software\\Koravel\\Other", 0, ENOENT},
        {"missing company", "Software\\Nobody", 0, ENOENT},
        {"empty path", "", 0, EINVAL},
        {"empty part", kApp + "\\\\General", 0, EINVAL},
        {"trailing separator", kApp + "\\", 0, EINVAL},
        {"outside Software", "System\\Koravel", 0, EINVAL},
        {"dot-dot company", "Software\\..\\x", 0, EINVAL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        CRegistryKey key;
        EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, row.path), row.result);
        EXPECT_EQ(key.LastError(), row.error);
        EXPECT_EQ(key.IsOpen(), row.result == 1);
    }
}

TEST_F(RegistryTest, ReadsAFileWrittenByHand)
{
    std::filesystem::create_directories(dir.File("config/koravel"));
    WriteWholeFile(dir.File("config/koravel/PIGEONPOST.conf"),
                   "[General]\nForUser=0\n\n[%General]\nStartup=0\n\n[NETWORK]\nTimeOut=30\n"
                   "garbage line\n[Filter%20Manager]\nSpam\\Position=Subject\n");
    struct Row {
        const char* label;
        std::string key;
        std::string name;
        int result;
        std::string value;
    };
    const Row rows[] = {
        {"value of the application key", kApp, "foruser", 1, "0"},
        {"group named General", kApp + "\\general", "STARTUP", 1, "0"},
        {"section in capitals", kApp + "\\Network", "Timeout", 1, "30"},
        {"nested key without marker", kApp + "\\Filter Manager\\spam", "position", 1, "Subject"},
        {"root value is not in General", kApp + "\\General", "ForUser", 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        CRegistryKey key;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, row.key), 1);
        std::string value;
        EXPECT_EQ(key.ReadString(row.name, value), row.result);
        EXPECT_EQ(value, row.value);
    }
}

// QSettings makes an object of an "@Variant(...)" value while it parses the file, and a
// pixmap in a program without a display aborts it: a file holding one, however spelled, is
// neither read nor written, and a harmless look-alike reads as the text it is.
TEST_F(RegistryTest, SerialisedObjectValuesLeaveTheFileAlone)
{
    const std::string pixmap = "@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\aQPixmap\\0\\xff\\xff)";
    struct Row {
        const char* label;
        std::string value; // as written in the file
        bool refused;
        std::string text; // what a readable one reads as
    };
    const Row rows[] = {
        {"plain", pixmap, true, ""},
        {"quoted", "\"" + pixmap + "\"", true, ""},
        {"second element of a list", "a, " + pixmap, true, ""},
        {"hex-escaped @", "\\x40" + pixmap.substr(1), true, ""},
        {"octal-escaped @ after a dropped escape", "\\q\\100" + pixmap.substr(1), true, ""},
        {"16-bit wrap of the escape", "\\x10040" + pixmap.substr(1), true, ""},
        {"continued line", "\\\n" + pixmap, true, ""},
        {"date", "@DateTime(\\0\\0\\0\\x10\\0)", true, ""},
        {"doubled @ is text", "@@Variant(x)", false, "@Variant(x)"},
        {"inside a text", "see @Variant(x)", false, "see @Variant(x)"},
        {"byte array", "@ByteArray(abc)", false, "abc"},
        {"rectangle", "@Rect(1 2 3 4)", false, "@Rect(1 2 3 4)"},
        {"list with a size", "a, @Size(5 6)", false, "a,@Size(5 6)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::filesystem::create_directories(dir.File("config/Koravel"));
        const std::string file = "[Network]\nTimeOut=30\n\n[Notify]\nSound=" + row.value + "\n";
        WriteWholeFile(ConfFile(), file);
        CRegistryKey key;
        std::string value;
        if (!row.refused) {
            ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\Notify"), 1);
            EXPECT_EQ(key.ReadString("Sound", value), 1);
            EXPECT_EQ(value, row.text);
            // Two rows' files can have the same size and time stamp, which QSettings takes
            // for an unchanged file; removing it through the key drops the cached copy.
            EXPECT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, kApp), 1);
            continue;
        }
        EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\Network"), 0);
        EXPECT_EQ(key.LastError(), EBADMSG);
        EXPECT_EQ(key.CreateKey(RegistryRoot::CurrentUser, kApp + "\\Network\\New"), 0);
        EXPECT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, kApp + "\\Network"), 0);
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp), 1) << "the file's own key opens";
        EXPECT_EQ(key.ReadString("Anything", value), 0);
        EXPECT_EQ(key.WriteString("Anything", "x"), 0);
        EXPECT_EQ(key.LastError(), EBADMSG);
        std::vector<std::string> names;
        EXPECT_EQ(key.EnumSubKeys(names), 0);
        EXPECT_EQ(ReadWholeFile(ConfFile()), file) << "nothing written, nothing lost";
        EXPECT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, kApp), 1) << "a damaged file can go";
        EXPECT_FALSE(IsFileThere(ConfFile()));
    }
}

TEST_F(RegistryTest, EmptyKeyStaysVisible)
{
    CRegistryKey key;
    ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, kApp + "\\Filter Manager"), 1);
    ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp), 1);
    std::vector<std::string> names;
    ASSERT_EQ(key.EnumSubKeys(names), 1);
    EXPECT_EQ(names, std::vector<std::string>{"Filter Manager"});
    ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\Filter Manager"), 1);
    std::string value;
    EXPECT_EQ(key.ReadString("%key", value), 0) << "the marker is not a value";
    EXPECT_EQ(key.LastError(), ENOENT);
    ASSERT_EQ(key.WriteString("Only", "1"), 1);
    ASSERT_EQ(key.DeleteValue("Only"), 1);
    EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\Filter Manager"), 1)
        << "removing the last value keeps the key";
}

// How many key markers the file holds: each is a line the user reading it sees.
size_t MarkersIn(const std::string& text)
{
    size_t count = 0;
    for (size_t p = text.find("%25key="); p != std::string::npos; p = text.find("%25key=", p + 1))
        ++count;
    return count;
}

// A key that holds nothing would vanish from the file without its marker; no other key
// carries one.
TEST_F(RegistryTest, MarkerOnlyWhereAKeyWouldBeLost)
{
    const std::string rules = kApp + "\\Filter Manager";
    const std::string general = kApp + "\\General";
    auto create = [](const std::string& path) {
        CRegistryKey key;
        EXPECT_EQ(key.CreateKey(RegistryRoot::CurrentUser, path), 1) << path;
    };
    auto write = [](const std::string& path, const char* name) {
        CRegistryKey key;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, path), 1) << path;
        EXPECT_EQ(key.WriteString(name, "1"), 1) << name;
    };
    auto erase = [](const std::string& path, const char* name) {
        CRegistryKey key;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, path), 1) << path;
        EXPECT_EQ(key.DeleteValue(name), 1) << name;
    };
    auto eraseKey = [](const std::string& path) {
        CRegistryKey key;
        EXPECT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, path), 1) << path;
    };
    struct Row {
        const char* label;
        std::function<void()> steps;
        size_t markers;
        std::vector<std::string> present;
        std::vector<std::string> gone;
    };
    const Row rows[] = {
        {"empty key keeps one", [&] { create(rules); }, 1, {rules}, {}},
        {"a value takes its place",
         [&] { create(general), write(general, "Startup"); },
         0,
         {general},
         {}},
        {"nested empty key: the inner one only",
         [&] { create(rules + "\\Spam"); },
         1,
         {rules, rules + "\\Spam"},
         {}},
        {"a subkey takes the place of its parent's",
         [&] { create(rules), create(rules + "\\Spam"); },
         1,
         {rules, rules + "\\Spam"},
         {}},
        {"last value deleted brings it back",
         [&] { create(general), write(general, "Startup"), erase(general, "startup"); },
         1,
         {general},
         {}},
        {"value deleted beside a subkey: none",
         [&] { create(general + "\\Sub"), write(general, "Startup"), erase(general, "Startup"); },
         1,
         {general, general + "\\Sub"},
         {}},
        {"last subkey deleted brings it back to the parent",
         [&] { create(rules + "\\Spam"), eraseKey(rules + "\\Spam"); },
         1,
         {rules},
         {rules + "\\Spam"}},
        {"one of two subkeys deleted: none for the parent",
         [&] { create(rules + "\\a"), create(rules + "\\b"), eraseKey(rules + "\\a"); },
         1,
         {rules, rules + "\\b"},
         {rules + "\\a"}},
        {"the application key is the file and needs none", [&] { create(kApp); }, 0, {kApp}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempDir config;
        ScopedEnv home("XDG_CONFIG_HOME", config.Path());
        row.steps();
        const std::string text = ReadWholeFile(config.File("Koravel/Pigeonpost.conf"));
        EXPECT_EQ(MarkersIn(text), row.markers) << text;
        for (const std::string& path : row.present) {
            CRegistryKey key;
            EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, path), 1) << path;
        }
        for (const std::string& path : row.gone) {
            CRegistryKey key;
            EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, path), 0) << path;
        }
    }
}

// Files written before carried a marker in every key: they read the same, and the first change
// leaves markers only where they are needed.
TEST_F(RegistryTest, FileWithAMarkerInEveryKeyReadsTheSame)
{
    std::filesystem::create_directories(dir.File("config/Koravel"));
    WriteWholeFile(ConfFile(), "[%General]\n%25key=\nStartup=0\n\n[Empty]\n%25key=\n\n"
                               "[Filter%20Manager]\n%25key=\nHam\\%25key=\nSpam\\%25key=\n"
                               "Spam\\Position=Subject\n");
    auto expectSameSettings = [&](const char* when) {
        SCOPED_TRACE(when);
        CRegistryKey key;
        std::vector<std::string> names;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp), 1);
        ASSERT_EQ(key.EnumSubKeys(names), 1);
        EXPECT_EQ(names, (std::vector<std::string>{"Empty", "Filter Manager", "General"}));
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\Filter Manager"), 1);
        ASSERT_EQ(key.EnumSubKeys(names), 1);
        EXPECT_EQ(names, (std::vector<std::string>{"Ham", "Spam"}));
        std::string value;
        EXPECT_EQ(key.ReadString("%key", value), 0) << "the marker is not a value";
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\Filter Manager\\Spam"), 1);
        EXPECT_EQ(key.ReadString("Position", value), 1);
        EXPECT_EQ(value, "Subject");
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\General"), 1);
        EXPECT_EQ(key.ReadString("Startup", value), 1);
        EXPECT_EQ(value, "0");
        EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\Empty"), 1);
        EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\Filter Manager\\Ham"), 1);
    };
    expectSameSettings("as written before");
    EXPECT_EQ(MarkersIn(ReadWholeFile(ConfFile())), 5u);
    {
        CRegistryKey key;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\General"), 1);
        ASSERT_EQ(key.WriteString("Minimum", "1"), 1);
    }
    expectSameSettings("after a change");
    const std::string text = ReadWholeFile(ConfFile());
    EXPECT_EQ(MarkersIn(text), 2u) << "Empty and Ham hold nothing else:\n" << text;
}

TEST_F(RegistryTest, DeleteKeyTakesSubkeysAlong)
{
    CRegistryKey key;
    OpenOrDie(key, kApp + "\\A\\B\\C");
    ASSERT_EQ(key.WriteString("v", "1"), 1);
    OpenOrDie(key, kApp + "\\A2");
    ASSERT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, kApp + "\\a"), 1);
    struct Row {
        const char* label;
        std::string path;
        int result;
    };
    const Row rows[] = {
        {"deleted key", kApp + "\\A", 0},
        {"its child", kApp + "\\A\\B", 0},
        {"its grandchild", kApp + "\\A\\B\\C", 0},
        {"sibling with a longer name", kApp + "\\A2", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        CRegistryKey probe;
        EXPECT_EQ(probe.Open(RegistryRoot::CurrentUser, row.path), row.result);
    }
    EXPECT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, kApp + "\\A"), 0);
    EXPECT_EQ(key.LastError(), ENOENT);
    EXPECT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, "Software"), 0);
    EXPECT_EQ(key.LastError(), EPERM);
    ASSERT_EQ(key.DeleteKey(RegistryRoot::CurrentUser, kApp), 1);
    EXPECT_FALSE(IsFileThere(ConfFile()));
}

TEST_F(RegistryTest, ReadsAndWritesValues)
{
    CRegistryKey key;
    OpenOrDie(key, kApp + "\\Values");
    ASSERT_EQ(key.WriteString("Long", "1234567890"), 1);
    ASSERT_EQ(key.WriteString("Wide", "\xC3\xA9\xC3\xA9\xC3\xA9"), 1); // three e-acute
    ASSERT_EQ(key.WriteString("Bytes", std::string("\xFF\xFE\x00z", 4)), 1);
    ASSERT_EQ(key.WriteString("Empty", ""), 1);
    ASSERT_EQ(key.WriteString("Comma", "a, b"), 1);
    ASSERT_EQ(key.WriteString("At", "@Variant(x)"), 1);
    ASSERT_EQ(key.WriteString("Command", " \"/opt/My Mail/mail\" --x=1;#y\tz\r\n2 "), 1);
    ASSERT_EQ(key.WriteDword("Number", 4000000000u), 1);
    struct Row {
        const char* label;
        std::string name;
        size_t size;
        int result;
        std::string value;
        int error;
    };
    const Row rows[] = {
        {"whole value", "Long", 261, 1, "1234567890", 0},
        {"size 9 keeps 8 bytes", "Long", 9, 1, "12345678", 0},
        {"size 1 keeps nothing", "Long", 1, 1, "", 0},
        {"size 0 is refused", "Long", 0, 0, "", EINVAL},
        {"cut between characters", "Wide", 4, 1, "\xC3\xA9", 0},
        {"cut on a boundary", "Wide", 5, 1, "\xC3\xA9\xC3\xA9", 0},
        {"bytes that are not UTF-8", "Bytes", 261, 1, std::string("\xFF\xFE\x00z", 4), 0},
        {"empty value", "Empty", 261, 1, "", 0},
        {"comma is text", "Comma", 261, 1, "a, b", 0},
        {"at sign is text", "At", 261, 1, "@Variant(x)", 0},
        {"quotes, blanks, controls", "Command", 261, 1, " \"/opt/My Mail/mail\" --x=1;#y\tz\r\n2 ",
         0},
        {"number as text", "Number", 261, 1, "4000000000", 0},
        {"missing value", "Nothing", 261, 0, "", ENOENT},
        {"empty name", "", 261, 0, "", EINVAL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::string value = "junk";
        EXPECT_EQ(key.ReadString(row.name, value, row.size), row.result);
        EXPECT_EQ(value, row.value);
        EXPECT_EQ(key.LastError(), row.error);
    }
}

TEST_F(RegistryTest, ReadsNumbers)
{
    CRegistryKey key;
    OpenOrDie(key, kApp + "\\Options");
    ASSERT_EQ(key.WriteDword("Size", 2), 1);
    ASSERT_EQ(key.WriteDword("Max", 0xFFFFFFFFu), 1);
    ASSERT_EQ(key.WriteString("Text", "abc"), 1);
    ASSERT_EQ(key.WriteString("Big", "4294967296"), 1);
    ASSERT_EQ(key.WriteString("Signed", "-1"), 1);
    struct Row {
        const char* label;
        std::string name;
        int result;
        uint32_t value;
        int error;
    };
    const Row rows[] = {
        {"small", "size", 1, 2, 0},
        {"largest", "Max", 1, 0xFFFFFFFFu, 0},
        {"text is not a number", "Text", 0, 77, EINVAL},
        {"too big", "Big", 0, 77, EINVAL},
        {"negative", "Signed", 0, 77, EINVAL},
        {"missing keeps the old value", "None", 0, 77, ENOENT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        uint32_t value = 77;
        EXPECT_EQ(key.ReadDword(row.name, value), row.result);
        EXPECT_EQ(value, row.value);
        EXPECT_EQ(key.LastError(), row.error);
    }
}

TEST_F(RegistryTest, ClosedKeyAndFolderLevels)
{
    CRegistryKey key;
    std::string value;
    std::vector<std::string> names;
    uint32_t number = 0;
    struct Row {
        const char* label;
        int result;
        int error;
    };
    // Each row runs one call; the state carries over as a user of the key would see it.
    std::vector<std::pair<Row, std::function<int()>>> steps = {
        {{"close a closed key", 0, EBADF}, [&] { return key.Close(); }},
        {{"read on a closed key", 0, EBADF}, [&] { return key.ReadString("x", value); }},
        {{"write on a closed key", 0, EBADF}, [&] { return key.WriteString("x", "1"); }},
        {{"number on a closed key", 0, EBADF}, [&] { return key.ReadDword("x", number); }},
        {{"delete value on a closed key", 0, EBADF}, [&] { return key.DeleteValue("x"); }},
        {{"list a closed key", 0, EBADF}, [&] { return key.EnumSubKeys(names); }},
        {{"list values of a closed key", 0, EBADF}, [&] { return key.EnumValues(names); }},
        {{"create the company", 1, 0},
         [&] { return key.CreateKey(RegistryRoot::CurrentUser, "Software\\Koravel"); }},
        {{"open the company", 1, 0},
         [&] { return key.Open(RegistryRoot::CurrentUser, "Software\\Koravel"); }},
        {{"company holds no values", 0, ENOTSUP}, [&] { return key.WriteString("x", "1"); }},
        {{"company reads no values", 0, ENOTSUP}, [&] { return key.ReadString("x", value); }},
        {{"open Software", 1, 0}, [&] { return key.Open(RegistryRoot::CurrentUser, "Software"); }},
        {{"Software lists the company", 1, 0}, [&] { return key.EnumSubKeys(names); }},
        {{"close", 1, 0}, [&] { return key.Close(); }},
    };
    for (auto& [row, call] : steps) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(call(), row.result);
        EXPECT_EQ(key.LastError(), row.error);
    }
    EXPECT_EQ(names, std::vector<std::string>{"Koravel"});
}

TEST_F(RegistryTest, FilesArePrivate)
{
    CRegistryKey key;
    OpenOrDie(key, kApp + "\\General");
    ASSERT_EQ(key.WriteString("MailClientPath", "mailer"), 1);
    ASSERT_EQ(key.WriteString("MailClient", "Mailer"), 1);
    EXPECT_EQ(ModeOf(ConfFile()), 0600u);
    EXPECT_EQ(ModeOf(dir.File("config/Koravel")), 0700u);
    // The application key lists its groups, and "General" is a group like any other.
    ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp), 1);
    ASSERT_EQ(key.WriteDword("ForUser", 0), 1);
    std::vector<std::string> names;
    ASSERT_EQ(key.EnumSubKeys(names), 1);
    EXPECT_EQ(names, std::vector<std::string>{"General"});
    ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\General"), 1);
    std::string value;
    EXPECT_EQ(key.ReadString("ForUser", value), 0) << "a value of the parent is not a child's";
}

TEST_F(RegistryTest, LocalMachineIsTheFirstSystemFolder)
{
    CRegistryKey key;
    ASSERT_EQ(key.CreateKey(RegistryRoot::LocalMachine, kApp), 1);
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, kApp), 1);
    ASSERT_EQ(key.WriteDword("ForUser", 1), 1);
    EXPECT_TRUE(IsFileThere(dir.File("sysconfig/Koravel/Pigeonpost.conf")));
    EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, kApp), 0);
}

// Writers in two processes and in two threads: every key of each survives.
TEST_F(RegistryTest, ConcurrentWritersLoseNothing)
{
    // What is under test is the locking and merging, not the disk: on tmpfs the fsync of each
    // rewrite costs nothing, which keeps 600 serialised rewrites quick.
    std::optional<ScopedEnv> tmp;
    if (std::filesystem::is_directory("/dev/shm"))
        tmp.emplace("TMPDIR", "/dev/shm");
    TempDir fast;
    ScopedEnv fastConfig("XDG_CONFIG_HOME", fast.File("config"));
    const int perWriter = 300;
    // Processes only create keys (one rewrite of the file each); threads also write values.
    auto writeKeys = [](const std::string& prefix, int count, bool withValue) {
        int failures = 0;
        for (int i = 0; i < count; ++i) {
            CRegistryKey key;
            std::string path = kApp + "\\Filter Manager\\" + prefix + std::to_string(i);
            failures += key.CreateKey(RegistryRoot::CurrentUser, path) ? 0 : 1;
            if (!withValue)
                continue;
            failures += key.Open(RegistryRoot::CurrentUser, path) ? 0 : 1;
            failures += key.WriteString("Index", std::to_string(i)) ? 0 : 1;
        }
        return failures;
    };
    std::vector<pid_t> children;
    for (const char* prefix : {"p", "q"}) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            ::_exit(writeKeys(prefix, perWriter, false) == 0 ? 0 : 1);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int threadFailures[2] = {0, 0};
    std::thread a([&] { threadFailures[0] = writeKeys("t", 30, true); });
    std::thread b([&] { threadFailures[1] = writeKeys("u", 30, true); });
    a.join();
    b.join();
    EXPECT_EQ(threadFailures[0] + threadFailures[1], 0);

    CRegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, kApp + "\\Filter Manager"), 1);
    std::vector<std::string> names;
    ASSERT_EQ(key.EnumSubKeys(names), 1);
    EXPECT_EQ(names.size(), size_t(2 * perWriter + 60));
    EXPECT_EQ(std::count(names.begin(), names.end(), "q299"), 1);
    CRegistryKey last;
    ASSERT_EQ(last.Open(RegistryRoot::CurrentUser, kApp + "\\Filter Manager\\u29"), 1);
    std::string value;
    EXPECT_EQ(last.ReadString("index", value), 1);
    EXPECT_EQ(value, "29");
}

TEST(RegistryName, EscapesSeparators)
{
    struct Row {
        const char* label;
        std::string raw;
        std::string stored;
    };
    const Row rows[] = {
        {"plain", "Filter Manager", "Filter Manager"},
        {"slash", "in/out", "in%2Fout"},
        {"backslash", "in\\out", "in%5Cout"},
        {"percent", "100%", "100%25"},
        {"escape-like text", "%2F", "%252F"},
        {"non-ASCII", "\xC3\xA4", "\xC3\xA4"},
        {"empty", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(RegistryName::Escape(row.raw), row.stored);
        EXPECT_EQ(RegistryName::Unescape(row.stored), row.raw);
    }
    // Names written by hand into the file: only the three sequences are undone.
    const Row handMade[] = {
        {"lower-case hex", "/", "%2f"},
        {"other escape stays", "%41", "%41"},
        {"lone percent", "%", "%"},
        {"cut escape", "%5", "%5"},
    };
    for (const Row& row : handMade) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(RegistryName::Unescape(row.stored), row.raw);
    }
}

TEST(RegistryStore, UnusableFolderFailsCleanly)
{
    TempDir dir;
    WriteWholeFile(dir.File("notafolder"), "x");
    ScopedEnv configHome("XDG_CONFIG_HOME", dir.File("notafolder"));
    CRegistryKey key;
    EXPECT_EQ(key.CreateKey(RegistryRoot::CurrentUser, kApp + "\\General"), 0);
    EXPECT_EQ(key.LastError(), EACCES);
    EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, kApp), 0);
    EXPECT_EQ(key.LastError(), ENOENT);
    EXPECT_EQ(ReadWholeFile(dir.File("notafolder")), "x");
}

// A save that fails (full disk, read-only folder) is reported, leaves the settings file as it
// was, and is not made later behind the caller's back: reads keep the old values, and the
// next successful save writes its own change only.
TEST_F(RegistryTest, FailedSavesLeaveOldSettings)
{
    const std::string general = kApp + "\\General";
    const std::string rules = kApp + "\\Filter Manager";
    enum class Fault { DiskFull, ReadOnlyFolder };
    struct Row {
        const char* label;
        std::function<int(CRegistryKey&)> save; // on a key open at "General"
    };
    const Row saves[] = {
        {"new-string", [](CRegistryKey& k) { return k.WriteString("Sound", "ding.wav"); }},
        {"overwrite-string",
         [](CRegistryKey& k) { return k.WriteString("mailclient", "Another mail client"); }},
        {"overwrite-dword", [](CRegistryKey& k) { return k.WriteDword("Interval", 30); }},
        {"delete-value", [](CRegistryKey& k) { return k.DeleteValue("MailClient"); }},
        {"create-key",
         [&](CRegistryKey& k) { return k.CreateKey(RegistryRoot::CurrentUser, rules + "\\Two"); }},
        {"delete-key",
         [&](CRegistryKey& k) { return k.DeleteKey(RegistryRoot::CurrentUser, rules + "\\One"); }},
    };
    // What every row must still read after its failed save, and after the save that follows.
    auto expectOldSettings = [&](const char* when) {
        SCOPED_TRACE(when);
        CRegistryKey key;
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, general), 1);
        std::string text;
        EXPECT_EQ(key.ReadString("MailClient", text), 1);
        EXPECT_EQ(text, "Mailer");
        uint32_t number = 0;
        EXPECT_EQ(key.ReadDword("Interval", number), 1);
        EXPECT_EQ(number, 15u);
        EXPECT_EQ(key.ReadString("Sound", text), 0);
        EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, rules + "\\One"), 1);
        EXPECT_EQ(key.ReadString("Folder", text), 1);
        EXPECT_EQ(text, "Junk");
        EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, rules + "\\Two"), 0);
    };
    // The settings every row starts from, in the folder XDG_CONFIG_HOME names.
    auto writeOldSettings = [&](CRegistryKey& key) {
        ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, rules + "\\One"), 1);
        ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, rules + "\\One"), 1);
        ASSERT_EQ(key.WriteString("Folder", "Junk"), 1);
        OpenOrDie(key, general);
        ASSERT_EQ(key.WriteString("MailClient", "Mailer"), 1);
        ASSERT_EQ(key.WriteDword("Interval", 15), 1);
    };
    int round = 0;
    for (Fault fault : {Fault::DiskFull, Fault::ReadOnlyFolder}) {
        for (const Row& row : saves) {
            SCOPED_TRACE(std::string(fault == Fault::DiskFull ? "disk-full " : "read-only ") +
                         row.label);
            const std::string marker = "round " + std::to_string(++round);
            // What the file holds when the same settings and the next save meet no fault.
            std::string expected;
            {
                TempDir reference;
                ScopedEnv home("XDG_CONFIG_HOME", reference.Path());
                CRegistryKey key;
                writeOldSettings(key);
                ASSERT_EQ(key.WriteString("After", marker), 1);
                expected = ReadWholeFile(reference.File("Koravel/Pigeonpost.conf"));
            }
            // A settings file of its own for each row.
            TempDir config;
            ScopedEnv home("XDG_CONFIG_HOME", config.Path());
            const std::string file = config.File("Koravel/Pigeonpost.conf");
            CRegistryKey key;
            writeOldSettings(key);
            const std::string before = ReadWholeFile(file);

            auto save = [&] { return row.save(key); };
            const int result = fault == Fault::DiskFull
                                   ? WithFileSizeLimit(10, save)
                                   : WithReadOnlyFolder(config.File("Koravel"), save);
            EXPECT_EQ(result, 0);
            EXPECT_NE(key.LastError(), 0);
            EXPECT_EQ(ReadWholeFile(file), before);
            expectOldSettings("after the failed save");

            ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, general), 1);
            ASSERT_EQ(key.WriteString("After", marker), 1) << key.LastError();
            expectOldSettings("after the next save");
            EXPECT_EQ(ReadWholeFile(file), expected);
        }
    }
}

} // namespace
