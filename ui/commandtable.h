#pragma once

#include <QAction>
#include <QObject>
#include <map>
#include <vector>

struct MenuTemplate;
struct ToolbarTemplate;

// The program's commands: one QAction per command id, shared by the menu bar, the context
// menus, the toolbar and the tray menu, so that a command's enabled and checked states are
// the same wherever it appears. The main window connects each action's triggered() to its
// handler; whoever builds a menu only places the actions.
//
// An action takes its text, image and checkability from the first menu template that names
// its command, and its toolbar text (QAction::iconText) and 32 x 32 normal, hot (QIcon::Active)
// and disabled images from the toolbar template. Its QIcon thus holds the 16 x 16 menu image
// and the 32 x 32 toolbar images side by side; menus and toolbar pick theirs by size.
//
// Threads: the user-interface thread only. The table owns its actions.
class CommandTable : public QObject
{
    Q_OBJECT

public:
    explicit CommandTable(QObject* parent = nullptr);

    // The action of `commandId`, made (without text) when the table has none yet.
    QAction* Action(unsigned commandId);
    // nullptr when the table has no action for the command.
    QAction* Find(unsigned commandId) const;
    std::vector<unsigned> Ids() const;

    // Adds the commands of a menu template (every level); existing actions keep their text.
    void AddMenuTemplate(const MenuTemplate& menu);
    // Adds the buttons of a toolbar template with their toolbar texts and images.
    void AddToolbarTemplate(const ToolbarTemplate& toolbar);
    // Adds every menu template of the bundle (128, 130, 132, 141, 142) and toolbar 128.
    void AddBundleTemplates();

private:
    std::map<unsigned, QAction*> actions_;
};
