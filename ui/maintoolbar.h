#pragma once

#include <QToolBar>

class CommandTable;
struct ToolbarTemplate;

// The main window's toolbar: the buttons of toolbar template 128 in order, each the shared
// action of its command (CommandTable), with its 32 x 32 image and its toolbar text under it.
// The action's icon holds the normal, hot (QIcon::Active, shown while the mouse is over the
// flat button) and disabled images of the bundle's three strips.
// Threads: the user-interface thread only.
class CMainToolBar : public QToolBar
{
    Q_OBJECT

public:
    static constexpr int kImageSize = 32;

    CMainToolBar(const ToolbarTemplate& toolbar, CommandTable& commands, QWidget* parent = nullptr);
};
