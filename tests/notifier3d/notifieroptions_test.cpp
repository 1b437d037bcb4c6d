// The options menu and the stored options: every command changes the window and is kept
// at close; unreadable models and textures fall back to the packaged defaults, remembered;
// a window stored off the screen is saved back on it; the recent-file lists.
#include "notifier3dfixture.h"
#include "notifieroptions.h"
#include "notifieroptionsmenu.h"
#include "programkey.h"
#include "registrykey.h"
#include "resourcelibrary.h"
#include "support/tablerow.h"
#include "templatemenubuilder.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace
{

struct MenuRow {
    const char* name;
    unsigned command;
    // Prepares the store (before the window reads it) and the files the command needs.
    std::function<void(const TempDir&)> prepare;
    // The file dialog's answer (a name under the temp folder, or a packaged file name
    // prefixed with "package:"); empty: cancelled.
    std::string chosen;
    // What the window and the stored options must show afterwards.
    std::function<void(const CNotifier3dWindow&, const CNotifierOptions&, const TempDir&)> check;
    unsigned expectMessage; // 0: none
};
POSTWATCH_ROW_PRINTS_NAME(MenuRow)

void CopyModel(const TempDir& dir, const std::string& name)
{
    std::filesystem::copy_file(CNotifierOptions().modelDir + "bird.x", dir.File(name));
}

std::vector<std::string> Recent(const char* prefix)
{
    std::vector<std::string> paths;
    CNotifierOptions::ReadRecent(prefix, paths);
    return paths;
}

void StoreRecent(const std::string& name, const std::string& value)
{
    CRegistryKey key;
    key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Options"));
    key.WriteString(name, value);
}

const std::vector<MenuRow> kMenuRows = {
    {"TopMostOff", 32774, nullptr, "",
     [](const CNotifier3dWindow& w, const CNotifierOptions& o, const TempDir&) {
         EXPECT_FALSE(w.flags() & Qt::WindowStaysOnTopHint);
         EXPECT_FALSE(o.topMost);
     },
     0},
    {"SizeSmall", 32788, nullptr, "",
     [](const CNotifier3dWindow& w, const CNotifierOptions& o, const TempDir&) {
         EXPECT_EQ(w.width(), 128);
         EXPECT_EQ(o.size, 1);
     },
     0},
    {"SizeLargeKeepsTheCentre", 32787, nullptr, "",
     [](const CNotifier3dWindow& w, const CNotifierOptions& o, const TempDir&) {
         EXPECT_EQ(w.width(), 512);
         EXPECT_EQ(w.geometry().center(), QPoint(300 + 127, 300 + 127));
         EXPECT_EQ(o.size, 4);
     },
     0},
    {"ClickShowsOffLeavesBothOff", 32893, nullptr, "",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir&) {
         EXPECT_FALSE(o.dbClickShow);
         EXPECT_FALSE(o.dbClickClose);
     },
     0},
    {"ClickClosesOnSwitchesShowsOff", 32894, nullptr, "",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir&) {
         EXPECT_FALSE(o.dbClickShow);
         EXPECT_TRUE(o.dbClickClose);
     },
     0},
    {"PackagedModel", 101, nullptr, "", // bird.x sorts first
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir&) {
         EXPECT_EQ(o.lastSelectModel, "bird.x");
         EXPECT_TRUE(o.usePackageModel);
     },
     0},
    {"PackagedTexture", 303, nullptr, "", // default, feathers, kraft
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir&) {
         EXPECT_EQ(o.lastSelectTexture, "kraft.bmp");
     },
     0},
    {"OutsideModelBecomesRecentOne", 32777, [](const TempDir& d) { CopyModel(d, "mine.x"); },
     "mine.x",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir& d) {
         EXPECT_EQ(o.lastSelectModel, d.File("mine.x"));
         EXPECT_FALSE(o.usePackageModel);
         EXPECT_EQ(Recent("Model#"), std::vector<std::string>{d.File("mine.x")});
     },
     0},
    {"SixthOutsideModelDropsTheFifth", 32777,
     [](const TempDir& d) {
         CopyModel(d, "new.x");
         for (int n = 1; n <= 5; ++n)
             StoreRecent("Model#" + std::to_string(n), "/old/" + std::to_string(n) + ".x");
     },
     "new.x",
     [](const CNotifier3dWindow&, const CNotifierOptions&, const TempDir& d) {
         EXPECT_EQ(Recent("Model#"),
                   (std::vector<std::string>{d.File("new.x"), "/old/1.x", "/old/2.x", "/old/3.x",
                                             "/old/4.x"}));
     },
     0},
    {"KnownOutsideModelKeepsTheOrder", 32777,
     [](const TempDir& d) {
         CopyModel(d, "known.x");
         StoreRecent("Model#1", "/old/1.x");
         StoreRecent("Model#2", d.File("known.x"));
     },
     "known.x",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir& d) {
         EXPECT_EQ(Recent("Model#"), (std::vector<std::string>{"/old/1.x", d.File("known.x")}));
         EXPECT_EQ(o.lastSelectModel, d.File("known.x"));
     },
     0},
    {"ModelFromThePackageFolderLeavesTheList", 32777, nullptr, "package:parcel.x",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir&) {
         EXPECT_EQ(o.lastSelectModel, "parcel.x");
         EXPECT_TRUE(o.usePackageModel);
         EXPECT_TRUE(Recent("Model#").empty());
     },
     0},
    {"RecentModel", 201,
     [](const TempDir& d) {
         CopyModel(d, "recent.x");
         StoreRecent("Model#1", d.File("recent.x"));
     },
     "",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir& d) {
         EXPECT_EQ(o.lastSelectModel, d.File("recent.x"));
         EXPECT_FALSE(o.usePackageModel);
     },
     0},
    // Must-fail rows: nothing changes, and the user is told why.
    {"RecentModelThatVanished", 201, [](const TempDir&) { StoreRecent("Model#1", "/gone.x"); }, "",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir&) {
         EXPECT_EQ(o.lastSelectModel, "default.x");
         EXPECT_EQ(Recent("Model#"), std::vector<std::string>{"/gone.x"});
     },
     61336},
    {"OutsideModelThatIsNoModel", 32777,
     [](const TempDir& d) { std::ofstream(d.File("junk.x")) << "xof 0303txt 0032\nMesh {"; },
     "junk.x",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir&) {
         EXPECT_EQ(o.lastSelectModel, "default.x");
         EXPECT_TRUE(o.usePackageModel);
     },
     61435},
    {"OutsideTextureThatIsNoPicture", 32785,
     [](const TempDir& d) { std::ofstream(d.File("junk.bmp")) << "BM nothing"; }, "junk.bmp",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir&) {
         EXPECT_EQ(o.lastSelectTexture, "default.bmp");
     },
     61437},
    {"CancelledDialogue", 32777, nullptr, "",
     [](const CNotifier3dWindow&, const CNotifierOptions& o, const TempDir&) {
         EXPECT_EQ(o.lastSelectModel, "default.x");
     },
     0},
};

class NotifierMenuTest : public Notifier3dTest, public ::testing::WithParamInterface<MenuRow>
{
};

} // namespace

TEST_P(NotifierMenuTest, CommandChangesTheWindowAndIsStored)
{
    const MenuRow& row = GetParam();
    StoreDword("LastPosX", 300);
    StoreDword("LastPosY", 300);
    if (row.prepare)
        row.prepare(dir_);
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    const std::string packageDir = window->Options().modelDir;
    CNotifierOptionsMenu menu(*window, [&](bool) -> QString {
        if (row.chosen.empty())
            return {};
        if (row.chosen.rfind("package:", 0) == 0)
            return QString::fromStdString(packageDir + row.chosen.substr(8));
        return QString::fromStdString(dir_.File(row.chosen));
    });
    // The built menu offers the command.
    std::unique_ptr<QMenu> built(menu.Build());
    ASSERT_TRUE(built);
    EXPECT_NE(TemplateMenuBuilder::FindCommand(built.get(), row.command), nullptr);

    menu.Execute(row.command);
    Pump(50);
    const std::vector<std::string> messages = Messages();
    if (row.expectMessage) {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], LoadResourceString(row.expectMessage));
    } else {
        EXPECT_TRUE(messages.empty()) << messages[0];
    }
    // Every command but Close leaves the window up and shown (a size change hid it).
    EXPECT_TRUE(window->Up());
    EXPECT_TRUE(window->isVisible());
    row.check(*window, window->Options(), dir_);
    window->close(); // saves
    CNotifierOptions stored;
    ASSERT_TRUE(stored.Load());
    row.check(*window, stored, dir_);
}

INSTANTIATE_TEST_SUITE_P(Rows, NotifierMenuTest, ::testing::ValuesIn(kMenuRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Notifier3dTest, MenuChecksTheCurrentChoicesAndListsAtMost98)
{
    // 120 models in the package folder: only the first 98 by name are offered.
    const std::string folder = dir_.File("models/");
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 120; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "m%03d.x", i);
        std::filesystem::copy_file(CNotifierOptions().modelDir + "parcel.x", folder + name);
    }
    StoreString("ModelDir", folder);
    StoreString("LastSelectModel", "m005.x");
    StoreDword("Size", 4);
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    CNotifierOptionsMenu menu(*window);
    std::unique_ptr<QMenu> built(menu.Build());
    ASSERT_TRUE(built);
    EXPECT_NE(TemplateMenuBuilder::FindCommand(built.get(), 198), nullptr);
    EXPECT_EQ(TemplateMenuBuilder::FindCommand(built.get(), 199), nullptr);
    EXPECT_TRUE(TemplateMenuBuilder::FindCommand(built.get(), 106)->isChecked());
    EXPECT_FALSE(TemplateMenuBuilder::FindCommand(built.get(), 105)->isChecked());
    EXPECT_TRUE(TemplateMenuBuilder::FindCommand(built.get(), 32787)->isChecked());
    EXPECT_FALSE(TemplateMenuBuilder::FindCommand(built.get(), 32778)->isChecked());
    EXPECT_TRUE(TemplateMenuBuilder::FindCommand(built.get(), 32893)->isChecked());
    EXPECT_TRUE(TemplateMenuBuilder::FindCommand(built.get(), 301)->isChecked()); // default
}

struct LoadRow {
    const char* name;
    // Stored LastSelectModel (LastSelectTexture): a packaged name, or "outside:" and a name
    // under the test folder, stored as a full path with the package flag off.
    std::string model;
    std::string texture;
    std::vector<unsigned> expectMessages;
    std::string expectModel;
    std::string expectTexture;
    // Plants the outside files.
    std::function<void(const TempDir&)> prepare = nullptr;
};
POSTWATCH_ROW_PRINTS_NAME(LoadRow)

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A BMP whose header declares `width` x `height` pixels of 24 bits, followed by a few bytes.
std::string BmpHeader(uint32_t width, uint32_t height)
{
    std::string b(54, '\0');
    auto put = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b[at + size_t(i)] = char((v >> (8 * i)) & 0xff);
    };
    b[0] = 'B';
    b[1] = 'M';
    put(2, 54 + 16, 4); // file size
    put(10, 54, 4);     // pixel data offset
    put(14, 40, 4);     // info header size
    put(18, width, 4);
    put(22, height, 4);
    put(26, 1, 2);  // planes
    put(28, 24, 2); // bits per pixel
    return b + std::string(16, '\x7f');
}

class NotifierLoadTest : public Notifier3dTest, public ::testing::WithParamInterface<LoadRow>
{
protected:
    void Store(const char* nameValue, const char* packageValue, const std::string& stored)
    {
        const std::string outside = "outside:";
        if (stored.rfind(outside, 0) != 0) {
            StoreString(nameValue, stored);
            return;
        }
        StoreDword(packageValue, 0);
        StoreString(nameValue, dir_.File(stored.substr(outside.size())));
    }
};

TEST_P(NotifierLoadTest, FallsBackToTheDefaultsAndRemembersThem)
{
    const LoadRow& row = GetParam();
    if (row.prepare)
        row.prepare(dir_);
    Store("LastSelectModel", "UsePackageModel", row.model);
    Store("LastSelectTexture", "UsePackageTexture", row.texture);
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    std::vector<std::string> expected;
    for (unsigned id : row.expectMessages)
        expected.push_back(LoadResourceString(id));
    EXPECT_EQ(Messages(), expected);
    window->close();
    CNotifierOptions stored;
    ASSERT_TRUE(stored.Load());
    EXPECT_EQ(stored.lastSelectModel, row.expectModel);
    EXPECT_EQ(stored.lastSelectTexture, row.expectTexture);
    EXPECT_TRUE(stored.usePackageModel);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NotifierLoadTest,
    ::testing::Values(
        LoadRow{"PackagedChoicesLoad", "parcel.x", "kraft.bmp", {}, "parcel.x", "kraft.bmp"},
        LoadRow{"MissingModel", "gone.x", "kraft.bmp", {61439}, "default.x", "kraft.bmp"},
        LoadRow{"MissingTexture", "bird.x", "gone.bmp", {61337}, "bird.x", "default.bmp"},
        LoadRow{"BothMissing", "gone.x", "gone.bmp", {61439, 61337}, "default.x", "default.bmp"},
        LoadRow{"NameClimbingOutOfTheFolder",
                "../../../../etc/passwd",
                "default.bmp",
                {61439},
                "default.x",
                "default.bmp"},
        // Hostile outside files: each falls back with its message, none hangs or crashes.
        LoadRow{"ModelIsAFifoTextureIsAFifo",
                "outside:pipe.x",
                "outside:pipe.bmp",
                {61439, 61337},
                "default.x",
                "default.bmp",
                [](const TempDir& d) {
                    ASSERT_EQ(::mkfifo(d.File("pipe.x").c_str(), 0600), 0);
                    ASSERT_EQ(::mkfifo(d.File("pipe.bmp").c_str(), 0600), 0);
                }},
        LoadRow{"ModelAndTextureAreFolders",
                "outside:folder.x",
                "outside:folder.bmp",
                {61439, 61337},
                "default.x",
                "default.bmp",
                [](const TempDir& d) {
                    std::filesystem::create_directories(d.File("folder.x"));
                    std::filesystem::create_directories(d.File("folder.bmp"));
                }},
        LoadRow{"EmptyFiles",
                "outside:empty.x",
                "outside:empty.bmp",
                {61439, 61337},
                "default.x",
                "default.bmp",
                [](const TempDir& d) {
                    WriteBytes(d.File("empty.x"), "");
                    WriteBytes(d.File("empty.bmp"), "");
                }},
        LoadRow{"ModelWithoutFacesAndNoVertices",
                "outside:points.obj",
                "default.bmp",
                {61439},
                "default.x",
                "default.bmp",
                [](const TempDir& d) {
                    WriteBytes(d.File("points.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
                }},
        LoadRow{"ModelOfNothing",
                "outside:nothing.obj",
                "default.bmp",
                {61439},
                "default.x",
                "default.bmp",
                [](const TempDir& d) { WriteBytes(d.File("nothing.obj"), "# no vertex\n"); }},
        LoadRow{"TextureDeclaringAHugePicture",
                "bird.x",
                "outside:huge.bmp",
                {61337},
                "bird.x",
                "default.bmp",
                [](const TempDir& d) { WriteBytes(d.File("huge.bmp"), BmpHeader(20000, 20000)); }},
        LoadRow{"TextureThatIsNoBmp",
                "bird.x",
                "outside:renamed.bmp",
                {61337},
                "bird.x",
                "default.bmp",
                [](const TempDir& d) {
                    WriteBytes(d.File("renamed.bmp"), "xof 0303txt 0032\nnot a picture\n");
                }}),
    [](const auto& info) { return std::string(info.param.name); });

struct PlaceRow {
    const char* name;
    int storedX, storedY;
    int size;
    int expectX, expectY; // -1: the screen's far edge less the window
};
POSTWATCH_ROW_PRINTS_NAME(PlaceRow)

class NotifierPlaceTest : public Notifier3dTest, public ::testing::WithParamInterface<PlaceRow>
{
};

TEST_P(NotifierPlaceTest, ClosingSavesThePlaceOnTheScreen)
{
    const PlaceRow& row = GetParam();
    StoreDword("LastPosX", uint32_t(row.storedX));
    StoreDword("LastPosY", uint32_t(row.storedY));
    StoreDword("Size", uint32_t(row.size));
    auto window = MakeWindow();
    ASSERT_TRUE(window);
    // Shown where it was, within the window system's coordinates.
    const auto near = [](int v) {
        return std::clamp(v, CNotifierOptions::kNearestPosition,
                          CNotifierOptions::kFarthestPosition);
    };
    EXPECT_EQ(window->position(), QPoint(near(row.storedX), near(row.storedY)));
    window->close();
    CNotifierOptions stored;
    ASSERT_TRUE(stored.Load());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int s = 128 * (CNotifierOptions::ValidSize(row.size) ? row.size : 2);
    EXPECT_EQ(stored.lastPosX, row.expectX < 0 ? screen.width() - s : row.expectX);
    EXPECT_EQ(stored.lastPosY, row.expectY < 0 ? screen.height() - s : row.expectY);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NotifierPlaceTest,
    ::testing::Values(PlaceRow{"OnScreenStays", 100, 200, 2, 100, 200},
                      PlaceRow{"LeftAndAboveComeBack", -70, -5, 2, 0, 0},
                      PlaceRow{"RightAndBelowComeBack", 5000, 5000, 1, -1, -1},
                      PlaceRow{"PartlyOffTheRightEdge", 1000, 10, 4, -1, 10},
                      PlaceRow{"AbsurdSizeReadsAsMedium", 10, 10, 1000, 10, 10},
                      PlaceRow{"SmallestNumbersComeBack", INT_MIN, INT_MIN, 2, 0, 0},
                      PlaceRow{"LargestNumbersComeBack", INT_MAX, INT_MAX, 4, -1, -1}),
    [](const auto& info) { return std::string(info.param.name); });
