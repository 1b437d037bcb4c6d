#pragma once

#include "traycommands.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The program's one notification-area icon: a still icon, an animation that cycles a list of
// icons on a timer (the checking animation, the new-mail flash), a tooltip, and the mouse:
// a left click runs the first command of the tray menu, a double click brings the main
// window to the front, a right click opens the context menu built from menu template 132.
// The context menu is handed to the tray host (Qt shows it, or exports it to a
// StatusNotifier host) and is refilled from the template and TrayCommands::MenuState()
// each time it is about to open, so it always shows the accounts as they are then.
// Every click also stops a new-mail flash; a running checking animation ("busy") is never
// interrupted by the mouse.
//
// States: not added -> added (still) <-> added (animating) -> removed. Remove() takes the
// icon away for good (exit); Restore() adds it again when it is not there (a second start
// of the program asks for that).
//
// Commands leave through TrayCommands, which must outlive the icon.
// Threads: the GUI thread only.
class CTrayIcon : public QObject
{
    Q_OBJECT
public:
    static constexpr unsigned kIconId = 132; // also the id of the context menu's template
    static constexpr unsigned kAccountsPosition = 10;
    static constexpr unsigned kFirstAccountCommand = 10000;
    static constexpr int kStartPeriodMs = 300;
    static constexpr int kCheckingPeriodMs = 400;
    static constexpr int kFlashPeriodMs = 500;

    enum class Event { LeftClick, DoubleClick, RightClick };

    explicit CTrayIcon(TrayCommands& commands, QObject* parent = nullptr);
    ~CTrayIcon() override;

    // The eight tray images of the bundle: 0 normal (458), 1 new mail (456), 2-7 the checking
    // frames (438-443). Missing images give null icons.
    static QList<QIcon> LoadIconSet();

    // Adds the icon with `icons[0]` and `tooltip`, remembering `icons` as the set whose first
    // icon a click restores, and starts animating `frames` icons of it every `periodMs`.
    // False (nothing added) when the list is empty.
    bool Create(const QString& tooltip, const QList<QIcon>& icons, int frames, int periodMs);
    // The still icon: stops any animation. False while not added.
    bool SetIcon(const QIcon& icon);
    // Cycles the first `frames` icons of `icons` (at most the list's size), showing the
    // first at once and the next after every `periodMs`; the index wraps, so one frame stays.
    bool Animate(const QList<QIcon>& icons, int frames, int periodMs);
    bool SetTooltipText(const QString& text);
    void Remove();
    void Hide();
    void Show();

    // The main window's uses, with the bundle's icon set:
    // start-up: Create(title, set, 8, 300) and the still normal icon.
    bool Start(const QString& title);
    // Second start of the program: adds the icon again when it is not there.
    void Restore();
    // The checking animation of the selected account (frames 438-443 every 400 ms), with the
    // tip "<Checking> <account> <account word>".
    void StartCheckingAnimation(const std::string& account);
    // Ends the checking animation (or a flash): normal icon and the title as tip.
    void StopCheckingAnimation();
    // New mail while the main window is minimised: normal and new-mail icon alternate every
    // 500 ms, with `tooltip` (the new-mail message) as tip.
    void FlashNewMail(const QString& tooltip);

    // The mouse on the icon. Returns true for a handled event.
    bool OnTrayNotification(Event event);

    // The context menu as it would open now, for `state`; the caller owns it. Account items
    // carry command ids 10000 + list index. Null when the bundle lacks template 132.
    QMenu* BuildContextMenu(const TrayMenuState& state) const;
    // Replaces the items of `menu` with that menu; false when the template is missing.
    bool FillContextMenu(QMenu* menu, const TrayMenuState& state) const;
    // The menu handed to the tray host (null before Create).
    QMenu* ContextMenu() const { return menu_.get(); }
    // What choosing `action` of that menu does: a fixed command goes to RunCommand, an
    // account item selects its account.
    void RunMenuAction(const QAction* action);

    bool IsAdded() const { return added_; }
    bool IsHidden() const { return hidden_; }
    bool IsAnimating() const { return animating_; }
    bool IsBusy() const { return busy_; }
    QString Tooltip() const { return tooltip_; }
    // The icon shown now and the animation's frame index.
    int FrameIndex() const { return frame_; }
    QIcon CurrentIcon() const { return current_; }
    // The set given at creation; its first icon is the still normal icon.
    const QList<QIcon>& IconSet() const { return baseIcons_; }
    int AnimationPeriodMs() const { return animation_.isActive() ? animation_.interval() : 0; }
    // Advances the animation by one frame now, as if its period had passed.
    void AnimationTick();

private:
    void StopAnimation();
    void StopFlash();
    void ApplyIcon(const QIcon& icon);

    TrayCommands& commands_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QList<QIcon> baseIcons_;
    QList<QIcon> frames_;
    QIcon current_;
    QString tooltip_;
    QString title_;
    QTimer animation_;
    int frame_ = 0;
    bool added_ = false;
    bool hidden_ = false;
    bool busy_ = false;
    bool animating_ = false;
};
