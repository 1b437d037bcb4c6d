#pragma once

#include "menutemplate.h"

class CommandTable;
class QMenu;
class QMenuBar;
class QWidget;

// Builds Qt menus from the bundle's menu templates with the shared command actions
// (CommandTable), so that every menu shows the same text, image, enabled and checked state
// for a command. A command item missing from the table is added to it from the template.
// Placeholders (command 0) are left out: their owner fills that place itself.
//
// The menus get the program's menu look (MenuStyle). Threads: the user-interface thread.
class MenuBuilder
{
public:
    // The items of `items` appended to `menu` (popups become submenus owned by it).
    static void Fill(QMenu* menu, const std::vector<MenuItem>& items, CommandTable& commands);
    // A context menu: the first popup of the template, owned by `parent`; nullptr when the
    // template is missing or holds no popup. The caller deletes it after use.
    static QMenu* BuildContextMenu(unsigned templateId, CommandTable& commands, QWidget* parent);
    static QMenu* BuildContextMenu(const MenuTemplate& menu, CommandTable& commands,
                                   QWidget* parent);
    // One menu per popup of the template on the bar (the main menu 128). The bar's menus
    // follow the menu-look switch for as long as they live.
    static void FillMenuBar(QMenuBar* bar, const MenuTemplate& menu, CommandTable& commands);
};
