#include "menutemplate.h"
#include "resourceimage.h"
#include "resourcelibrary.h"
#include "support/tempdir.h"
#include "testbundle.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace
{

class ResourceLibraryTest : public ::testing::Test
{
protected:
    void TearDown() override { ResourceLibrary::Unload(); }

    std::string Write(const std::string& name, const QByteArray& bytes)
    {
        const std::string path = dir_.File(name);
        WriteWholeFile(path, bytes.toStdString());
        return path;
    }

    TempDir dir_;
};

TEST_F(ResourceLibraryTest, LoadsTheBundleBesideTheExecutables)
{
    ScopedEnv noOverride("POSTWATCH_ASSETS", "");
    EXPECT_EQ(ResourceLibrary::DefaultPath(), std::string(POSTWATCH_BUNDLE_PATH));
    std::string error;
    ASSERT_TRUE(ResourceLibrary::LoadDefault(&error)) << error;
    EXPECT_TRUE(ResourceLibrary::IsLoaded());
    EXPECT_EQ(LoadResourceString(32900), "Pigeonpost");
}

TEST_F(ResourceLibraryTest, DefaultPathFollowsTheAssetFolder)
{
    ScopedEnv assets("POSTWATCH_ASSETS", dir_.Path());
    EXPECT_EQ(ResourceLibrary::DefaultPath(), dir_.Path() + "/postwatch.rcc");
    std::string error;
    EXPECT_FALSE(ResourceLibrary::LoadDefault(&error));
    EXPECT_NE(error.find(dir_.Path() + "/postwatch.rcc"), std::string::npos) << error;
}

TEST_F(ResourceLibraryTest, NothingAnswersBeforeLoadOrAfterUnload)
{
    EXPECT_FALSE(ResourceLibrary::IsLoaded());
    EXPECT_EQ(LoadResourceString(32899), "");
    EXPECT_TRUE(LoadResourceImage(242).isNull());
    EXPECT_TRUE(LoadMenuTemplate(142).IsNull());

    std::string error;
    ASSERT_TRUE(ResourceLibrary::Load(POSTWATCH_BUNDLE_PATH, &error)) << error;
    EXPECT_EQ(LoadResourceString(32899), "Koravel");
    ResourceLibrary::Unload();
    EXPECT_FALSE(ResourceLibrary::IsLoaded());
    EXPECT_EQ(LoadResourceString(32899), "");
    EXPECT_TRUE(LoadResourceImage(242).isNull());
    EXPECT_TRUE(LoadMenuTemplate(142).IsNull());
}

std::map<std::string, QByteArray> Without(const char* path)
{
    auto files = MinimalBundleFiles();
    files.erase(path);
    return files;
}

std::map<std::string, QByteArray> With(const char* path, const QByteArray& bytes)
{
    auto files = MinimalBundleFiles();
    files[path] = bytes;
    return files;
}

class LoadFailures : public ResourceLibraryTest
{
};

TEST_F(LoadFailures, NameTheFileAndTheReasonAndKeepTheLoadedBundle)
{
    const std::string real = ReadWholeFile(POSTWATCH_BUNDLE_PATH);
    using Files = std::map<std::string, QByteArray>;
    const std::vector<std::pair<const char*, std::pair<QByteArray, const char*>>> rows = {
        {"empty file", {QByteArray(), "no \"qres\" header"}},
        {"text file", {QByteArray("32899\tKoravel\n"), "no \"qres\" header"}},
        {"cut in half",
         {QByteArray::fromStdString(real.substr(0, real.size() / 2)), "beyond the end"}},
        {"another program's resources",
         {WriteRcc(Files{{"icons/app.png", TinyPng(8, 8)}}), "not a Postwatch resource bundle"}},
        {"marker names another format",
         {WriteRcc(With("postwatch/bundle.json", R"({"format": "other", "version": 1})")),
          "names another format"}},
        {"newer bundle format",
         {WriteRcc(
              With("postwatch/bundle.json", R"({"format": "postwatch-resources", "version": 2})")),
          "format version 2"}},
        {"no string table", {WriteRcc(Without("postwatch/strings/en.tsv")), "no string table"}},
        {"bad string table",
         {WriteRcc(With("postwatch/strings/en.tsv", "1\tA\n1\tB\n")), "line 2"}},
        {"image not PNG",
         {WriteRcc(With("postwatch/images/242.png", "GIF89a")), "cannot be decoded"}},
        {"image of enormous size",
         {WriteRcc(With("postwatch/images/242.png", TinyPng(4000, 1))), "larger than 2048"}},
        {"image badly named",
         {WriteRcc(With("postwatch/images/check.png", TinyPng(4, 4))), "<number>.png"}},
        {"menu not JSON", {WriteRcc(With("postwatch/menus/142.json", "{")), "not valid JSON"}},
        {"menu id differs from file name",
         {WriteRcc(With("postwatch/menus/141.json",
                        R"({"id": 142, "items": [{"text": "A", "command": 1}]})")),
          "does not match its file name"}},
        {"toolbar damaged",
         {WriteRcc(With("postwatch/toolbars/128.json", R"({"id": 128})")), "imageSize"}},
    };
    std::string error;
    ASSERT_TRUE(ResourceLibrary::Load(POSTWATCH_BUNDLE_PATH, &error)) << error;
    int n = 0;
    for (const auto& [name, content] : rows) {
        SCOPED_TRACE(name);
        const std::string path = Write("bad" + std::to_string(n++) + ".rcc", content.first);
        error.clear();
        EXPECT_FALSE(ResourceLibrary::Load(path, &error));
        EXPECT_NE(error.find("\"" + path + "\""), std::string::npos) << error;
        EXPECT_NE(error.find(content.second), std::string::npos) << error;
        // A failed reload loses nothing: the bundle that was loaded still answers.
        EXPECT_TRUE(ResourceLibrary::IsLoaded());
        EXPECT_EQ(LoadResourceString(32899), "Koravel");
    }
}

TEST_F(LoadFailures, MissingUnreadableAndFolder)
{
    std::string error;
    EXPECT_FALSE(ResourceLibrary::Load(dir_.File("absent.rcc"), &error));
    EXPECT_NE(error.find("absent.rcc\": the file does not exist"), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(ResourceLibrary::Load(dir_.Path(), &error));
    EXPECT_NE(error.find(dir_.Path() + "\": it is a folder"), std::string::npos) << error;

    if (::geteuid() != 0) { // root reads files whatever their mode
        const std::string locked = Write("locked.rcc", WriteRcc(MinimalBundleFiles()));
        ::chmod(locked.c_str(), 0);
        error.clear();
        EXPECT_FALSE(ResourceLibrary::Load(locked, &error));
        EXPECT_NE(error.find("locked.rcc"), std::string::npos) << error;
    }
    EXPECT_FALSE(ResourceLibrary::IsLoaded());
}

TEST_F(ResourceLibraryTest, LoadsAMinimalBundleAndAnswersByNumber)
{
    std::string error;
    ASSERT_TRUE(ResourceLibrary::Load(Write("min.rcc", WriteRcc(MinimalBundleFiles())), &error))
        << error;
    EXPECT_EQ(LoadResourceString(32899), "Koravel");
    EXPECT_EQ(LoadResourceString(61372), "");
    EXPECT_EQ(LoadResourceImage(242).size(), QSize(16, 16));
    const QImage big = LoadResourceImage(242, 2);
    EXPECT_EQ(big.size(), QSize(32, 32));
    EXPECT_EQ(big.devicePixelRatio(), 2.0);
    EXPECT_EQ(LoadResourceImage(242, 3).size(), QSize(16, 16));
    EXPECT_TRUE(LoadResourceImage(999).isNull());
    EXPECT_FALSE(LoadMenuTemplate(142).IsNull());
    EXPECT_TRUE(LoadMenuTemplate(141).IsNull());
    EXPECT_EQ(LoadToolbarImage(128, 32809, ToolbarLook::Hot).size(), QSize(16, 16));
    EXPECT_TRUE(LoadToolbarImage(128, 32810, ToolbarLook::Hot).isNull());
    EXPECT_TRUE(LoadToolbarImage(129, 32809, ToolbarLook::Hot).isNull());
}

// Readers on several threads while the bundle is reloaded and unloaded: no reader may see
// freed memory (AddressSanitizer checks) and every answer is either the text or empty.
TEST_F(ResourceLibraryTest, ReadersSurviveReloadAndUnload)
{
    std::string error;
    ASSERT_TRUE(ResourceLibrary::Load(POSTWATCH_BUNDLE_PATH, &error)) << error;
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                const std::string text = LoadResourceString(32900);
                if (!text.empty() && text != "Pigeonpost")
                    ++wrong;
                const QImage image = LoadResourceImage(458);
                if (!image.isNull() && image.width() != 16)
                    ++wrong;
                const MenuTemplate menu = LoadMenuTemplate(132);
                if (!menu.IsNull() && menu.items.empty())
                    ++wrong;
            }
        });
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(ResourceLibrary::Load(POSTWATCH_BUNDLE_PATH, &error)) << error;
        ResourceLibrary::Unload();
    }
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong, 0);
}

} // namespace
