#pragma once

class QMenu;
class QWidget;

// The two looks of the program's menus: a flat, light one and the classic raised one.
//
// The switch is process-wide (the view command "Flat Menus" toggles it; it starts on when
// the main window is made). A screen of 8 bits per pixel or fewer always gets the classic
// look, as a palette display cannot show the flat look's tints. Menus are styled when they
// are built (context menus are built for each use, so they follow at once); menus that live
// on (the menu bar's) are registered with Track() and restyled when the switch changes.
//
// Both looks are made with Qt styles and style sheets: Fusion under a light sheet for the
// flat look, the "Windows" style with its raised bevels for the classic one.
// Threads: the user-interface thread only.
class MenuStyle
{
public:
    static void SetFlat(bool on);
    static bool IsFlatSwitchOn();
    // The decision, pure: the flat look needs the switch and more than 8 bits per pixel.
    static bool UseFlat(bool switchOn, int screenDepth);
    // Applies the current look to `menu` and its submenus.
    static void Apply(QMenu* menu);
    // Applies now and again whenever the switch changes, while the menu lives.
    static void Track(QMenu* menu);
    // The style sheet of the flat look (empty for the classic one), for tests.
    static const char* FlatStyleSheet();
};
