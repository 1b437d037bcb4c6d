#pragma once

#include <QPoint>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class CNotifier3dWindow;
class QMenu;

// The 3D notifier's right-click menu (menu template 130): the packaged models (ids 101..198)
// and textures (301..398) found in the option folders, the five recent outside files of
// each (201.., 401..), "Open Model File..." (32777) and "Open Texture File..." (32785), the
// sizes 1, 2, 4 (32788, 32778, 32787), top-most (32774), the double-click options (32893,
// 32894) and Close (32784), each checked as the window's options say.
//
// Execute(id) carries out a command on the window and stores it: the selections, sizes
// and toggles in the window's options (written at close), the recent lists at once. A model
// or texture that cannot be loaded brings the previous one back (message 61435 / 61437);
// when that fails too, the window closes. A size that cannot be set closes it (61436). A
// recent or chosen file that no longer exists gives 61336 and changes nothing.
//
// Packaged lists are sorted by name, case-insensitively, and cut at 98 entries.
//
// Threads: the GUI thread. `window` must outlive the menu object.
class CNotifierOptionsMenu
{
public:
    static constexpr int kMaxPackaged = 98;
    static constexpr unsigned kFirstModel = 101, kFirstRecentModel = 201;
    static constexpr unsigned kFirstTexture = 301, kFirstRecentTexture = 401;

    // Asks the user for a model (`model` true) or texture file; empty when cancelled.
    using FileChooser = std::function<QString(bool model)>;

    explicit CNotifierOptionsMenu(CNotifier3dWindow& window, FileChooser chooser = {});

    // The titles (names without extension) of the files with `extension` in `folder`.
    static std::vector<std::string> ListFolder(const std::string& folder,
                                               const std::string& extension);

    // The menu as it would open now; nullptr when the options cannot be read (no menu at
    // all). The caller owns it.
    QMenu* Build();
    // Builds the menu, opens it at `global` and carries out the chosen command.
    void Popup(const QPoint& global);
    // Carries out one command (0 does nothing). The window may be closed afterwards.
    void Execute(unsigned command);

private:
    void ChooseFile(bool model);
    void Select(bool model, bool package, const std::string& name);
    void Resize(int n);

    CNotifier3dWindow& window_;
    FileChooser chooser_;
    std::vector<std::string> models_, textures_, recentModels_, recentTextures_;
};
