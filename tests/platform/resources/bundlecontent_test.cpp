// What the rest of the program relies on in the bundle that the build produces.
#include "menutemplate.h"
#include "resourceids.h"
#include "resourceimage.h"
#include "resourcelibrary.h"
#include "toolbartemplate.h"

#include <QRegularExpression>
#include <cctype>
#include <gtest/gtest.h>
#include <set>

namespace
{

class BundleContent : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        std::string error;
        ASSERT_TRUE(ResourceLibrary::Load(POSTWATCH_BUNDLE_PATH, &error)) << error;
    }
    static void TearDownTestSuite() { ResourceLibrary::Unload(); }
};

// Every numbered text the program asks for, with the printf directives its caller formats
// into it ("" = used as it is). A text used as it is must hold no "%": callers may pass it
// on to a formatting function, and a stray directive there reads arbitrary memory.
struct TextRow {
    unsigned id;
    const char* directives;
};
const std::vector<TextRow> kTexts = {
    {104, ""},   {32893, ""},  {32894, ""},   {32895, ""}, {32896, ""}, {32897, ""}, {32898, ""},
    {32899, ""}, {32900, ""},  {61336, ""},   {61337, ""}, {61338, ""}, {61339, ""}, {61340, ""},
    {61341, ""}, {61343, ""},  {61344, ""},   {61345, ""}, {61346, ""}, {61347, ""}, {61348, ""},
    {61349, ""}, {61363, ""},  {61364, ""},   {61365, ""}, {61368, ""}, {61369, ""}, {61370, ""},
    {61371, ""}, {61372, ""},  {61373, ""},   {61374, ""}, {61375, ""}, {61376, ""}, {61377, ""},
    {61378, ""}, {61379, ""},  {61380, ""},   {61381, ""}, {61383, ""}, {61386, ""}, {61387, ""},
    {61388, ""}, {61389, ""},  {61390, ""},   {61391, ""}, {61392, ""}, {61393, ""}, {61394, ""},
    {61395, ""}, {61396, ""},  {61397, ""},   {61398, ""}, {61399, ""}, {61400, ""}, {61401, ""},
    {61402, ""}, {61403, ""},  {61404, ""},   {61405, ""}, {61406, ""}, {61407, ""}, {61408, ""},
    {61409, ""}, {61410, ""},  {61411, ""},   {61412, ""}, {61413, ""}, {61414, ""}, {61415, ""},
    {61416, ""}, {61417, ""},  {61418, ""},   {61419, ""}, {61420, ""}, {61421, ""}, {61422, ""},
    {61424, ""}, {61425, ""},  {61426, ""},   {61427, ""}, {61428, ""}, {61429, ""}, {61431, ""},
    {61432, ""}, {61433, ""},  {61434, ""},   {61435, ""}, {61436, ""}, {61437, ""}, {61438, ""},
    {61439, ""}, {40000, "s"}, {40001, "ss"}, {40002, ""}, {40003, ""}, {40010, ""}, {40011, "ss"},
    {40400, ""}, {40401, ""},
};
// Desktop notices and quiet hours.
const std::vector<TextRow> kNoticeTexts = {
    {40700, ""},   {40701, ""}, {40702, ""}, {40703, "dd"}, {40704, "dd"},
    {40705, "dd"}, {40706, ""}, {40707, ""}, {40708, ""},   {40709, ""},
};

std::string Directives(const std::string& text)
{
    std::string found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        found.push_back(i + 1 < text.size() ? text[i + 1] : '?');
    }
    return found;
}

TEST_F(BundleContent, EveryNumberedTextExistsWithItsPlaceholders)
{
    std::vector<TextRow> rows = kTexts;
    rows.insert(rows.end(), kNoticeTexts.begin(), kNoticeTexts.end());
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.id);
        const std::string text = LoadResourceString(row.id);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(Directives(text), row.directives) << text;
    }
}

TEST_F(BundleContent, CompanyAndApplicationWords)
{
    // They name the settings folder and key path: fixed for good.
    EXPECT_EQ(LoadResourceString(ResId::kCompanyWord), "Koravel");
    EXPECT_EQ(LoadResourceString(ResId::kApplicationWord), "Pigeonpost");
}

TEST_F(BundleContent, FilterKeywordsCanBeStoredAndTellApart)
{
    const unsigned ids[] = {ResId::kFilterSender, ResId::kFilterSubject, ResId::kFilterContains,
                            ResId::kFilterIs};
    std::set<std::string> folded;
    for (unsigned id : ids) {
        SCOPED_TRACE(id);
        const std::string word = LoadResourceString(id);
        ASSERT_FALSE(word.empty());
        // "Position" is read into a 32-byte buffer: a longer word would make every rule fail.
        EXPECT_LE(word.size(), 31u);
        // Plain printable ASCII without outer blanks survives every settings store unchanged.
        for (unsigned char c : word)
            EXPECT_TRUE(c >= 0x20 && c < 0x7f) << word;
        EXPECT_NE(word.front(), ' ');
        EXPECT_NE(word.back(), ' ');
        std::string lower;
        for (unsigned char c : word)
            lower.push_back(char(std::tolower(c)));
        EXPECT_TRUE(folded.insert(lower).second) << "\"" << word << "\" is not unique";
    }
}

TEST_F(BundleContent, NameRuleMessages)
{
    for (unsigned id : {61346u, 61347u, 61348u, 61349u})
        EXPECT_FALSE(LoadResourceString(id).empty()) << id;
    // The refusal must show the user every character that is refused.
    const std::string refused = LoadResourceString(61348);
    for (char c : std::string("\\/:*?\"<>|"))
        EXPECT_NE(refused.find(c), std::string::npos) << "missing " << c;
}

TEST_F(BundleContent, HelpTopicsArePlainPageNames)
{
    const QRegularExpression page("^[a-z0-9][a-z0-9-]*$");
    for (unsigned id : {32897u, 61383u, 61386u, 61387u, 61388u, 61389u}) {
        const std::string topic = LoadResourceString(id);
        EXPECT_TRUE(page.match(QString::fromStdString(topic)).hasMatch()) << id << " " << topic;
    }
}

struct ImageRow {
    unsigned id;
    int width;
    int height;
};

TEST_F(BundleContent, ImagesDecodeAtTheirSizes)
{
    std::vector<ImageRow> rows = {
        {128, 64, 64},  {312, 112, 16}, {315, 32, 32}, {460, 32, 32}, {303, 32, 32}, {413, 256, 32},
        {412, 256, 32}, {414, 256, 32}, {319, 16, 16}, {327, 16, 16}, {134, 16, 16},
    };
    for (unsigned id : ResId::kTrayImages)
        rows.push_back({id, 16, 16});
    for (unsigned id : {242u, 261u, 372u, 374u, 291u, 300u, 273u, 369u, 246u, 143u,
                        245u, 253u, 321u, 322u, 380u, 276u, 294u, 274u, 279u, 365u})
        rows.push_back({id, 16, 16});
    for (const ImageRow& row : rows) {
        SCOPED_TRACE(row.id);
        const QImage image = LoadResourceImage(row.id);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(row.width, row.height));
        EXPECT_TRUE(image.hasAlphaChannel());
        const QImage big = LoadResourceImage(row.id, 2);
        EXPECT_EQ(big.size(), QSize(row.width * 2, row.height * 2));
    }
}

bool HasInk(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
    return false;
}

TEST_F(BundleContent, HeaderListStripHasItsThreeImages)
{
    const QImage strip = LoadResourceImage(ResId::kHeaderListStrip);
    for (int slot : {3, 4, 6})
        EXPECT_TRUE(HasInk(strip.copy(slot * 16, 0, 16, 16))) << slot;
    // Unread and read must look different.
    EXPECT_NE(strip.copy(3 * 16, 0, 16, 16), strip.copy(4 * 16, 0, 16, 16));
}

// The commands that have fixed images, per menu; every other command of a
// template still needs an image and a text so that the owner-drawn menu never shows a gap.
struct MenuRow {
    unsigned menu;
    std::map<unsigned, unsigned> images; // command -> its fixed image
};

void Collect(const std::vector<MenuItem>& items, std::vector<const MenuItem*>* commands)
{
    for (const MenuItem& item : items) {
        if (item.kind == MenuItem::Kind::Command)
            commands->push_back(&item);
        Collect(item.children, commands);
    }
}

TEST_F(BundleContent, MenuCommandsHaveTextsAndImages)
{
    const std::map<unsigned, unsigned> mainImages = {
        {32809, 242}, {32810, 261}, {32892, 372}, {32881, 374}, {57665, 291},
        {32853, 300}, {32775, 273}, {32786, 369}, {32800, 246}, {32782, 143},
        {32797, 245}, {32801, 253}, {32856, 321}, {32857, 322}, {32807, 380},
        {32813, 276}, {32814, 294}, {1047, 274},  {57664, 279}};
    const std::vector<MenuRow> rows = {
        {128, mainImages},
        {130, {}},
        {132,
         {{32771, 365},
          {32853, 300},
          {57664, 279},
          {32892, 372},
          {32881, 374},
          {32809, 242},
          {32810, 261},
          {57665, 291},
          {32813, 276},
          {32814, 294},
          {32775, 273},
          {32801, 253},
          {32800, 246}}},
        {141, {{32801, 253}, {32856, 321}, {32857, 322}, {32807, 380}}},
        {142, {{32809, 242}, {32782, 143}, {32797, 245}, {32800, 246}, {32786, 369}}},
    };
    for (const MenuRow& row : rows) {
        SCOPED_TRACE(row.menu);
        const MenuTemplate menu = LoadMenuTemplate(row.menu);
        ASSERT_FALSE(menu.IsNull());
        std::vector<const MenuItem*> commands;
        Collect(menu.items, &commands);
        std::set<unsigned> seen;
        for (const MenuItem* item : commands) {
            SCOPED_TRACE(item->text);
            EXPECT_FALSE(item->text.empty());
            if (item->commandId == 0)
                continue; // a placeholder the program replaces
            EXPECT_TRUE(seen.insert(item->commandId).second) << "command twice";
            EXPECT_EQ(LoadResourceImage(item->imageId).size(), QSize(16, 16));
            const auto fixed = row.images.find(item->commandId);
            if (fixed != row.images.end())
                EXPECT_EQ(item->imageId, fixed->second);
        }
        for (const auto& [command, image] : row.images)
            EXPECT_EQ(seen.count(command), 1u) << "menu lacks command " << command;
    }
}

TEST_F(BundleContent, TrayMenuLayout)
{
    const MenuTemplate menu = LoadMenuTemplate(ResId::kTrayMenu);
    ASSERT_FALSE(menu.IsNull());
    const std::vector<MenuItem>& popup = menu.items[0].children;
    // A single click runs the first command: it must be a command, and the harmless one.
    ASSERT_FALSE(popup.empty());
    EXPECT_EQ(popup[0].kind, MenuItem::Kind::Command);
    EXPECT_EQ(popup[0].commandId, 32771u);
    // The account list is filled into the item at position 10, whose first item is deleted.
    ASSERT_GT(popup.size(), 10u);
    EXPECT_EQ(popup[10].kind, MenuItem::Kind::Popup);
    ASSERT_EQ(popup[10].children.size(), 1u);
    EXPECT_EQ(popup[10].children[0].commandId, 0u);
}

TEST_F(BundleContent, NotifierMenuLayout)
{
    const MenuTemplate menu = LoadMenuTemplate(ResId::kNotifierOptionsMenu);
    ASSERT_FALSE(menu.IsNull());
    const std::vector<MenuItem>& popup = menu.items[0].children;
    ASSERT_GE(popup.size(), 2u);
    EXPECT_EQ(popup[0].kind, MenuItem::Kind::Popup); // models
    EXPECT_EQ(popup[1].kind, MenuItem::Kind::Popup); // textures
    std::vector<const MenuItem*> commands;
    Collect(menu.items, &commands);
    std::map<unsigned, bool> checkable;
    for (const MenuItem* item : commands)
        checkable[item->commandId] = item->checkable;
    for (unsigned id : {32788u, 32778u, 32787u, 32893u, 32894u, 32774u})
        EXPECT_TRUE(checkable.count(id) && checkable[id]) << id;
    for (unsigned id : {32777u, 32785u, 32784u})
        EXPECT_EQ(checkable.count(id), 1u) << id;
    // The program numbers its own items 101-499; the template must not collide with them.
    for (const auto& [id, unused] : checkable)
        EXPECT_FALSE(id >= 101 && id <= 499) << id;
}

TEST_F(BundleContent, MainToolbarButtonsTextsAndImages)
{
    const ToolbarTemplate toolbar = LoadToolbarTemplate(ResId::kMainToolbar);
    ASSERT_FALSE(toolbar.IsNull());
    EXPECT_EQ(toolbar.imageSize, 32);
    EXPECT_EQ(toolbar.normalBitmap, 413u);
    EXPECT_EQ(toolbar.hotBitmap, 412u);
    EXPECT_EQ(toolbar.disabledBitmap, 414u);
    const std::vector<std::pair<unsigned, unsigned>> expected = {
        {32809, 61408}, {32810, 61409}, {32800, 61410}, {32775, 61411},
        {32801, 61412}, {32892, 61429}, {32881, 61427}, {32853, 61428}};
    std::vector<std::pair<unsigned, unsigned>> buttons;
    for (const ToolbarButton& button : toolbar.buttons)
        if (button.commandId != 0)
            buttons.emplace_back(button.commandId, button.textId);
    EXPECT_EQ(buttons, expected);
    // The strips hold exactly one square per button.
    EXPECT_EQ(LoadResourceImage(413).width(), 32 * int(expected.size()));
    for (const auto& [command, text] : expected) {
        SCOPED_TRACE(command);
        EXPECT_FALSE(LoadResourceString(text).empty());
        const QImage normal = LoadToolbarImage(128, command, ToolbarLook::Normal);
        const QImage hot = LoadToolbarImage(128, command, ToolbarLook::Hot);
        const QImage disabled = LoadToolbarImage(128, command, ToolbarLook::Disabled);
        ASSERT_EQ(normal.size(), QSize(32, 32));
        ASSERT_EQ(hot.size(), QSize(32, 32));
        ASSERT_EQ(disabled.size(), QSize(32, 32));
        EXPECT_TRUE(HasInk(normal));
        EXPECT_NE(normal, hot);
        EXPECT_NE(normal, disabled);
        EXPECT_EQ(LoadToolbarImage(128, command, ToolbarLook::Normal, 2).size(), QSize(64, 64));
    }
}

} // namespace
