#pragma once

#include <QByteArray>
#include <string>
#include <vector>

// A menu template of the resource bundle: the items of one menu resource (128 main menu bar,
// 130 3D notifier options, 132 tray icon, 141 header list, 142 account tree), in order.
//
// The top level of a template holds the menu bar's popups; context menus use the first of
// them ("the first submenu"). Item positions count separators, as menu positions do.
struct MenuItem {
    enum class Kind { Command, Separator, Popup };

    Kind kind = Kind::Command;
    std::string text;       // UTF-8; "&" marks the mnemonic, "&&" is a literal "&"
    unsigned commandId = 0; // Command: 1..65535; 0 only for a placeholder the program replaces
    unsigned imageId = 0;   // Command: the menu image (LoadResourceImage), 0 = none
    bool checkable = false; // Command: shows a check mark when on
    std::vector<MenuItem> children; // Popup only
};

struct MenuTemplate {
    unsigned id = 0;
    std::vector<MenuItem> items;

    bool IsNull() const { return items.empty(); }

    // Parses the JSON form kept in the bundle:
    //   {"id": 132, "items": [{"popup": "Tray", "items": [
    //       {"text": "&Open", "command": 32771, "image": 365},
    //       {"separator": true}, ...]}]}
    // Optional per command: "checkable": true. On failure returns false and sets `error` to
    // "<fileName>: <reason>".
    static bool Parse(const QByteArray& json, const std::string& fileName, MenuTemplate* out,
                      std::string* error);
};

// The menu template `id`; a null template when the bundle is not loaded or has no such menu.
// Thread-safe.
MenuTemplate LoadMenuTemplate(unsigned id);
