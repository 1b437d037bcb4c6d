#include "commandtable.h"
#include "maintoolbar.h"
#include "menubuilder.h"
#include "menustyle.h"
#include "resourceimage.h"
#include "resourcelibrary.h"
#include "toolbartemplate.h"
#include "uitestsupport.h"

#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace
{

// Every command item of the template, at any depth.
void CommandIds(const std::vector<MenuItem>& items, std::vector<unsigned>& ids)
{
    for (const MenuItem& item : items) {
        if (item.kind == MenuItem::Kind::Popup)
            CommandIds(item.children, ids);
        else if (item.kind == MenuItem::Kind::Command && item.commandId != 0)
            ids.push_back(item.commandId);
    }
}

void MenuActions(const QMenu* menu, std::vector<const QAction*>& actions)
{
    for (const QAction* a : menu->actions()) {
        if (a->menu())
            MenuActions(a->menu(), actions);
        else if (!a->isSeparator())
            actions.push_back(a);
    }
}

TEST(MenuBuilder, EveryTemplateCommandHasTextAndImage)
{
    const struct {
        const char* name;
        unsigned id;
    } cases[] = {
        {"main menu", 128}, {"3D options", 130}, {"header list", 141}, {"account tree", 142}};
    for (const auto& c : cases) {
        const MenuTemplate menu = LoadMenuTemplate(c.id);
        ASSERT_FALSE(menu.IsNull()) << c.name;
        std::vector<unsigned> ids;
        CommandIds(menu.items, ids);
        ASSERT_FALSE(ids.empty()) << c.name;

        CommandTable commands;
        QWidget owner;
        std::vector<const QAction*> actions;
        if (c.id == 128) {
            QMenuBar bar(&owner);
            MenuBuilder::FillMenuBar(&bar, menu, commands);
            for (const QAction* a : bar.actions())
                MenuActions(a->menu(), actions);
        } else {
            std::unique_ptr<QMenu> built(MenuBuilder::BuildContextMenu(menu, commands, &owner));
            ASSERT_TRUE(built) << c.name;
            MenuActions(built.get(), actions);
        }
        if (c.id != 128) {
            // A context menu is the first popup only.
            std::vector<unsigned> first;
            CommandIds(menu.items[0].children, first);
            ids = first;
        }
        ASSERT_EQ(actions.size(), ids.size()) << c.name;
        for (size_t i = 0; i < ids.size(); ++i) {
            EXPECT_EQ(actions[i]->data().toUInt(), ids[i]) << c.name << " item " << i;
            EXPECT_FALSE(actions[i]->text().isEmpty()) << c.name << " command " << ids[i];
            EXPECT_FALSE(actions[i]->icon().pixmap(16, 16).isNull())
                << c.name << " command " << ids[i] << " has a 16 x 16 image";
            EXPECT_EQ(actions[i], commands.Find(ids[i])) << c.name << ": the shared action";
        }
    }
}

TEST(MenuBuilder, MenusShareOneActionPerCommand)
{
    CommandTable commands;
    commands.AddBundleTemplates();
    QWidget owner;
    std::unique_ptr<QMenu> tree(MenuBuilder::BuildContextMenu(142, commands, &owner));
    QMenuBar bar(&owner);
    MenuBuilder::FillMenuBar(&bar, LoadMenuTemplate(128), commands);
    QAction* rename = commands.Find(32786);
    ASSERT_NE(rename, nullptr);
    rename->setEnabled(false);
    std::vector<const QAction*> actions;
    MenuActions(tree.get(), actions);
    bool found = false;
    for (const QAction* a : actions)
        if (a->data().toUInt() == 32786) {
            found = true;
            EXPECT_FALSE(a->isEnabled());
        }
    EXPECT_TRUE(found);
    EXPECT_TRUE(commands.Find(32888)->isCheckable()) << "the flat-menus switch shows a check";
    EXPECT_EQ(MenuBuilder::BuildContextMenu(999, commands, &owner), nullptr)
        << "a missing template builds nothing";
}

TEST(MenuBuilder, ToolbarHasEveryButtonWithTextAndThreeLooks)
{
    CommandTable commands;
    commands.AddBundleTemplates();
    const ToolbarTemplate toolbar = LoadToolbarTemplate(128);
    ASSERT_FALSE(toolbar.IsNull());
    CMainToolBar bar(toolbar, commands);
    EXPECT_EQ(bar.iconSize(), QSize(32, 32));
    EXPECT_EQ(bar.toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    const QList<QAction*> actions = bar.actions();
    ASSERT_EQ(static_cast<size_t>(actions.size()), toolbar.buttons.size());
    const std::map<unsigned, std::string> texts = {
        {32809, LoadResourceString(61408)}, {32810, LoadResourceString(61409)},
        {32800, LoadResourceString(61410)}, {32775, LoadResourceString(61411)},
        {32801, LoadResourceString(61412)}, {32892, LoadResourceString(61429)},
        {32881, LoadResourceString(61427)}, {32853, LoadResourceString(61428)}};
    for (size_t i = 0; i < toolbar.buttons.size(); ++i) {
        const ToolbarButton& b = toolbar.buttons[i];
        QAction* a = actions[static_cast<qsizetype>(i)];
        if (b.commandId == 0) {
            EXPECT_TRUE(a->isSeparator()) << i;
            continue;
        }
        EXPECT_EQ(a, commands.Find(b.commandId)) << b.commandId;
        EXPECT_EQ(a->iconText().toStdString(), texts.at(b.commandId)) << b.commandId;
        const QIcon icon = a->icon();
        const QImage normal = icon.pixmap(32, 32, QIcon::Normal).toImage();
        const QImage hot = icon.pixmap(32, 32, QIcon::Active).toImage();
        const QImage disabled = icon.pixmap(32, 32, QIcon::Disabled).toImage();
        EXPECT_EQ(normal.size(), QSize(32, 32)) << b.commandId;
        EXPECT_NE(normal, hot) << b.commandId << ": the hot look differs";
        EXPECT_NE(normal, disabled) << b.commandId << ": the disabled look differs";
        EXPECT_EQ(normal.convertToFormat(QImage::Format_ARGB32),
                  LoadToolbarImage(128, b.commandId, ToolbarLook::Normal)
                      .convertToFormat(QImage::Format_ARGB32))
            << b.commandId << ": the 32 x 32 image is the toolbar's, not the menu's";
    }
}

TEST(MenuStyle, FlatLookNeedsTheSwitchAndMoreThan256Colours)
{
    const struct {
        const char* name;
        bool on;
        int depth;
        bool flat;
    } cases[] = {{"switch on, true colour", true, 32, true},
                 {"switch on, 16 bits", true, 16, true},
                 {"switch on, 256 colours", true, 8, false},
                 {"switch off", false, 32, false}};
    for (const auto& c : cases)
        EXPECT_EQ(MenuStyle::UseFlat(c.on, c.depth), c.flat) << c.name;
}

TEST(MenuStyle, SwitchRestylesTrackedMenusAndNextContextMenus)
{
    CommandTable commands;
    QWidget owner;
    QMenuBar bar(&owner);
    MenuBuilder::FillMenuBar(&bar, LoadMenuTemplate(128), commands);
    QMenu* file = bar.actions().at(0)->menu();
    MenuStyle::SetFlat(true);
    EXPECT_EQ(file->styleSheet(), QString::fromLatin1(MenuStyle::FlatStyleSheet()));
    MenuStyle::SetFlat(false);
    EXPECT_TRUE(file->styleSheet().isEmpty()) << "the menu bar's menus follow at once";
    std::unique_ptr<QMenu> context(MenuBuilder::BuildContextMenu(141, commands, &owner));
    EXPECT_TRUE(context->styleSheet().isEmpty()) << "a new context menu is classic too";
    MenuStyle::SetFlat(true);
    std::unique_ptr<QMenu> flat(MenuBuilder::BuildContextMenu(141, commands, &owner));
    EXPECT_FALSE(flat->styleSheet().isEmpty());
    EXPECT_NE(flat->style(), context->style()) << "the two looks are two styles";
}

} // namespace
