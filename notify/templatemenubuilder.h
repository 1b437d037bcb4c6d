#pragma once

#include "menutemplate.h"

class QAction;
class QMenu;
class QWidget;

// Builds stand-alone Qt menus from the bundle's menu templates: each menu has actions of
// its own (not the main window's shared command actions), for menus that live outside the
// main window, such as the tray icon's. One QAction per command with the command id in
// QAction::data() (an unsigned int), the template's text (with its "&" mnemonic) and image,
// separators as separator actions, popups as submenus. Positions in the built menu count
// separators, as template positions do, so "the item at position 10" is QMenu::actions().at(10).
//
// Threads: the GUI thread. The caller owns every returned menu (submenus are its children).
class TemplateMenuBuilder
{
public:
    // The menu of one popup item's children, titled with the popup's text.
    static QMenu* Build(const MenuItem& popup, QWidget* parent = nullptr);
    // The first submenu of template `templateId` (the form every context menu takes), or
    // nullptr when the bundle has no such template or its first item is no popup.
    static QMenu* BuildContextMenu(unsigned templateId, QWidget* parent = nullptr);
    // The same items appended to an existing menu (one that is refilled each time it opens);
    // false, and nothing added, when the template is missing.
    static bool FillContextMenu(QMenu* menu, unsigned templateId);
    // Appends one item (command, separator or submenu) to `menu`.
    static QAction* AddItem(QMenu* menu, const MenuItem& item);

    // The command id a built action carries; 0 for separators, submenus and placeholders.
    static unsigned CommandOf(const QAction* action);
    // The first action with `commandId` in `menu` or its submenus, depth first; nullptr when
    // there is none.
    static QAction* FindCommand(const QMenu* menu, unsigned commandId);
};
