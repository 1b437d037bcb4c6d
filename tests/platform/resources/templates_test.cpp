#include "menutemplate.h"
#include "toolbartemplate.h"

#include <gtest/gtest.h>

namespace
{

struct MenuRow {
    const char* name;
    const char* json;
    const char* error; // nullptr = must parse
};

TEST(MenuTemplate, ParsesAndRefuses)
{
    std::string tooDeep = R"({"text": "A", "command": 1})";
    for (int level = 0; level < 10; ++level)
        tooDeep = R"({"popup": "P", "items": [)" + tooDeep + "]}";
    tooDeep = R"({"id": 7, "items": [)" + tooDeep + "]}";
    const std::vector<MenuRow> rows = {
        {"command, separator and nested popup",
         R"({"id": 7, "items": [{"popup": "P", "items": [
              {"text": "&A", "command": 1, "image": 2, "checkable": true},
              {"separator": true},
              {"popup": "Sub", "items": [{"text": "B", "command": 0}]}]}]})",
         nullptr},
        {"not JSON", "{", "not valid JSON"},
        {"top level is a list", "[]", "needs a menu \"id\""},
        {"id zero", R"({"id": 0, "items": [{"text": "A", "command": 1}]})", "\"id\""},
        {"id fractional", R"({"id": 1.5, "items": [{"text": "A", "command": 1}]})", "\"id\""},
        {"no items", R"({"id": 7})", "\"items\" list"},
        {"empty menu", R"({"id": 7, "items": []})", "menu is empty"},
        {"item not an object", R"({"id": 7, "items": [3]})", "not an object"},
        {"command without text", R"({"id": 7, "items": [{"command": 1}]})", "no \"text\""},
        {"command without number", R"({"id": 7, "items": [{"text": "A"}]})", "\"command\""},
        {"command too big", R"({"id": 7, "items": [{"text": "A", "command": 70000}]})",
         "\"command\""},
        {"negative image", R"({"id": 7, "items": [{"text": "A", "command": 1, "image": -1}]})",
         "\"image\""},
        {"popup without items", R"({"id": 7, "items": [{"popup": "P"}]})", "no \"items\""},
        {"nested too deeply", tooDeep.c_str(), "nested too deeply"},
    };
    for (const MenuRow& row : rows) {
        SCOPED_TRACE(row.name);
        MenuTemplate menu;
        std::string error;
        const bool ok = MenuTemplate::Parse(row.json, "menus/7.json", &menu, &error);
        if (!row.error) {
            ASSERT_TRUE(ok) << error;
            continue;
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(error.rfind("menus/7.json: ", 0), 0u) << error;
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
}

TEST(MenuTemplate, KeepsOrderKindsAndFields)
{
    MenuTemplate menu;
    std::string error;
    ASSERT_TRUE(MenuTemplate::Parse(R"({"id": 9, "items": [{"popup": "P", "items": [
              {"text": "&A", "command": 1, "image": 2, "checkable": true},
              {"separator": true},
              {"popup": "Sub", "items": [{"text": "B", "command": 3}]}]}]})",
                                    "m", &menu, &error))
        << error;
    EXPECT_EQ(menu.id, 9u);
    ASSERT_EQ(menu.items.size(), 1u);
    const std::vector<MenuItem>& items = menu.items[0].children;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].kind, MenuItem::Kind::Command);
    EXPECT_EQ(items[0].text, "&A");
    EXPECT_EQ(items[0].commandId, 1u);
    EXPECT_EQ(items[0].imageId, 2u);
    EXPECT_TRUE(items[0].checkable);
    EXPECT_EQ(items[1].kind, MenuItem::Kind::Separator);
    EXPECT_EQ(items[2].kind, MenuItem::Kind::Popup);
    ASSERT_EQ(items[2].children.size(), 1u);
    EXPECT_EQ(items[2].children[0].commandId, 3u);
    EXPECT_FALSE(items[2].children[0].checkable);
}

struct ToolbarRow {
    const char* name;
    const char* json;
    const char* error;
};

TEST(ToolbarTemplate, ParsesAndRefuses)
{
    const char* bitmaps = R"("bitmaps": {"normal": 1, "hot": 2, "disabled": 3})";
    const std::string good = std::string(R"({"id": 128, "imageSize": 32, )") + bitmaps +
                             R"(, "buttons": [{"command": 5, "text": 6}, {"separator": true},
                                             {"command": 7}]})";
    const std::string twice = std::string(R"({"id": 128, "imageSize": 32, )") + bitmaps +
                              R"(, "buttons": [{"command": 5}, {"command": 5}]})";
    const std::string noButtons = std::string(R"({"id": 1, "imageSize": 32, )") + bitmaps + "}";
    const std::vector<ToolbarRow> rows = {
        {"good", good.c_str(), nullptr},
        {"not JSON", "x", "not valid JSON"},
        {"no id", R"({"imageSize": 32})", "\"id\""},
        {"size too small", R"({"id": 1, "imageSize": 2})", "imageSize"},
        {"bitmaps missing", R"({"id": 1, "imageSize": 32})", "\"bitmaps\""},
        {"no buttons", noButtons.c_str(), "no buttons"},
        {"command used twice", twice.c_str(), "two buttons"},
    };
    for (const ToolbarRow& row : rows) {
        SCOPED_TRACE(row.name);
        ToolbarTemplate toolbar;
        std::string error;
        const bool ok = ToolbarTemplate::Parse(row.json, "toolbars/1.json", &toolbar, &error);
        if (!row.error) {
            ASSERT_TRUE(ok) << error;
            // Separators take no place in the image strips.
            EXPECT_EQ(toolbar.ImageIndex(5), 0);
            EXPECT_EQ(toolbar.ImageIndex(7), 1);
            EXPECT_EQ(toolbar.ImageIndex(0), -1);
            EXPECT_EQ(toolbar.ImageIndex(8), -1);
            continue;
        }
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
}

} // namespace
