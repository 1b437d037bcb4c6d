#include "trayicon.h"

#include "resourceids.h"
#include "resourceimage.h"
#include "resourcelibrary.h"
#include "templatemenubuilder.h"

#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <algorithm>

namespace
{

constexpr unsigned kAccountCommand = 32800;
constexpr unsigned kCheckSelected = 32809;
constexpr unsigned kCheckAll = 32810;
constexpr unsigned kLogOn = 32892;
constexpr unsigned kLogOff = 32881;
constexpr unsigned kCheckingText = 32898;
constexpr unsigned kAccountWord = 61402;

// Of the eight images, the checking animation uses the six frames 438-443.
constexpr int kFirstCheckingFrame = 2;
constexpr int kCheckingFrames = 6;

const char* const kAccountProperty = "pwAccount";

void Enable(QMenu* menu, unsigned commandId, bool enabled)
{
    if (QAction* action = TemplateMenuBuilder::FindCommand(menu, commandId))
        action->setEnabled(enabled);
}

// Account names may hold "&", which a menu would take for a mnemonic.
QString MenuText(const std::string& name)
{
    return QString::fromStdString(name).replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

CTrayIcon::CTrayIcon(TrayCommands& commands, QObject* parent) : QObject(parent), commands_(commands)
{
    connect(&animation_, &QTimer::timeout, this, &CTrayIcon::AnimationTick);
}

CTrayIcon::~CTrayIcon() = default;

QList<QIcon> CTrayIcon::LoadIconSet()
{
    QList<QIcon> icons;
    for (unsigned id : ResId::kTrayImages) {
        QIcon icon;
        for (int scale : {1, 2}) {
            const QImage image = LoadResourceImage(id, scale);
            if (!image.isNull())
                icon.addPixmap(QPixmap::fromImage(image));
        }
        icons.append(icon);
    }
    return icons;
}

bool CTrayIcon::Create(const QString& tooltip, const QList<QIcon>& icons, int frames, int periodMs)
{
    if (icons.isEmpty())
        return false;
    baseIcons_ = icons;
    tooltip_ = tooltip;
    if (!tray_) {
        menu_ = std::make_unique<QMenu>();
        connect(menu_.get(), &QMenu::aboutToShow, this,
                [this] { FillContextMenu(menu_.get(), commands_.MenuState()); });
        connect(menu_.get(), &QMenu::triggered, this,
                [this](QAction* action) { RunMenuAction(action); });
        tray_ = std::make_unique<QSystemTrayIcon>();
        tray_->setContextMenu(menu_.get());
        connect(tray_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    switch (reason) {
                    case QSystemTrayIcon::Trigger:
                        OnTrayNotification(Event::LeftClick);
                        break;
                    case QSystemTrayIcon::DoubleClick:
                        OnTrayNotification(Event::DoubleClick);
                        break;
                    case QSystemTrayIcon::Context:
                        OnTrayNotification(Event::RightClick);
                        break;
                    default:
                        break;
                    }
                });
    }
    ApplyIcon(icons.front());
    tray_->setToolTip(tooltip_);
    // The tray host may come later (or come back after a restart of the panel): Qt docks
    // the icon whenever one appears, so the icon counts as added from here on. A bundle
    // without the image leaves nothing to show.
    if (!icons.front().isNull())
        tray_->show();
    added_ = true;
    hidden_ = false;
    frames_ = icons.mid(0, std::clamp(frames, 1, static_cast<int>(icons.size())));
    frame_ = 0;
    animation_.start(std::max(periodMs, 1));
    animating_ = true;
    return true;
}

bool CTrayIcon::SetIcon(const QIcon& icon)
{
    if (!added_)
        return false;
    StopAnimation();
    ApplyIcon(icon);
    return true;
}

bool CTrayIcon::Animate(const QList<QIcon>& icons, int frames, int periodMs)
{
    if (icons.isEmpty() || !SetIcon(icons.front()))
        return false;
    frames_ = icons.mid(0, std::clamp(frames, 1, static_cast<int>(icons.size())));
    frame_ = 0;
    animation_.start(std::max(periodMs, 1));
    animating_ = true;
    return true;
}

bool CTrayIcon::SetTooltipText(const QString& text)
{
    if (!added_)
        return false;
    tooltip_ = text;
    tray_->setToolTip(text);
    return true;
}

void CTrayIcon::Remove()
{
    if (!added_)
        return;
    tray_->hide();
    added_ = false;
    hidden_ = false;
    StopAnimation();
}

void CTrayIcon::Hide()
{
    if (added_ && !hidden_) {
        tray_->hide();
        hidden_ = true;
    }
}

void CTrayIcon::Show()
{
    if (added_ && hidden_) {
        tray_->show();
        hidden_ = false;
    }
}

bool CTrayIcon::Start(const QString& title)
{
    title_ = title;
    const QList<QIcon> icons = LoadIconSet();
    if (!Create(title, icons, static_cast<int>(icons.size()), kStartPeriodMs))
        return false;
    return SetIcon(icons.front());
}

void CTrayIcon::Restore()
{
    if (!added_) {
        Start(title_);
        return;
    }
    // Still added: the icon may have vanished with a tray host that went away; taking it
    // out and putting it back docks it again.
    Hide();
    Show();
}

void CTrayIcon::StartCheckingAnimation(const std::string& account)
{
    if (baseIcons_.size() <= kFirstCheckingFrame)
        return;
    if (!Animate(baseIcons_.mid(kFirstCheckingFrame), kCheckingFrames, kCheckingPeriodMs))
        return;
    busy_ = true;
    SetTooltipText(QString::fromStdString(LoadResourceString(kCheckingText) + " " + account + " " +
                                          LoadResourceString(kAccountWord)));
}

void CTrayIcon::StopCheckingAnimation()
{
    if (!animating_)
        return;
    animating_ = false;
    busy_ = false;
    SetIcon(baseIcons_.front());
    SetTooltipText(title_);
}

void CTrayIcon::FlashNewMail(const QString& tooltip)
{
    if (baseIcons_.isEmpty())
        return;
    if (Animate(baseIcons_, 2, kFlashPeriodMs))
        SetTooltipText(tooltip);
}

bool CTrayIcon::OnTrayNotification(Event event)
{
    switch (event) {
    case Event::LeftClick: {
        StopFlash();
        // A single click runs the tray menu's first command (restore the main window).
        std::unique_ptr<QMenu> menu(TemplateMenuBuilder::BuildContextMenu(kIconId));
        if (!menu || menu->actions().isEmpty())
            return false;
        const unsigned first = TemplateMenuBuilder::CommandOf(menu->actions().front());
        commands_.BringToFront();
        if (first)
            commands_.RunCommand(first);
        return true;
    }
    case Event::DoubleClick:
        StopFlash();
        commands_.BringToFront();
        return true;
    case Event::RightClick:
        // The tray host opens the context menu itself.
        StopFlash();
        commands_.BringToFront();
        return true;
    }
    return false;
}

QMenu* CTrayIcon::BuildContextMenu(const TrayMenuState& state) const
{
    auto menu = std::make_unique<QMenu>();
    if (!FillContextMenu(menu.get(), state))
        return nullptr;
    return menu.release();
}

bool CTrayIcon::FillContextMenu(QMenu* menu, const TrayMenuState& state) const
{
    menu->clear();
    if (!TemplateMenuBuilder::FillContextMenu(menu, kIconId))
        return false;
    if (state.accounts.empty()) {
        Enable(menu, kAccountCommand, false);
        Enable(menu, kCheckSelected, false);
        Enable(menu, kCheckAll, false);
    }

    const QList<QAction*> items = menu->actions();
    QMenu* accounts = items.size() > static_cast<int>(kAccountsPosition)
                          ? items.at(kAccountsPosition)->menu()
                          : nullptr;
    if (!accounts)
        return true;
    // The template's first item only holds the place of the account list.
    if (!accounts->actions().isEmpty()) {
        QAction* placeholder = accounts->actions().front();
        accounts->removeAction(placeholder);
        delete placeholder;
    }
    QAction* selected = nullptr;
    size_t selectedIndex = 0;
    for (size_t i = 0; i < state.accounts.size(); ++i) {
        QAction* item = accounts->addAction(MenuText(state.accounts[i].name));
        item->setData(kFirstAccountCommand + static_cast<unsigned>(i));
        item->setProperty(kAccountProperty, QString::fromStdString(state.accounts[i].name));
        // Only the first account of the selected name gets the check mark.
        if (!selected && state.accounts[i].name == state.selectedAccount) {
            selected = item;
            selectedIndex = i;
        }
    }
    if (!selected)
        return true;

    selected->setCheckable(true);
    selected->setChecked(true);
    const TrayMenuState::Account& account = state.accounts[selectedIndex];
    if (account.exchange) {
        Enable(menu, kLogOn, !state.exchangeLoggedOn);
        Enable(menu, kLogOff, state.exchangeLoggedOn);
        Enable(menu, kCheckSelected, false);
    } else {
        Enable(menu, kLogOn, false);
        Enable(menu, kLogOff, state.exchangeLoggedOn);
    }
    if (account.busy)
        Enable(menu, kCheckSelected, false);
    return true;
}

void CTrayIcon::RunMenuAction(const QAction* action)
{
    if (!action)
        return;
    const QString account = action->property(kAccountProperty).toString();
    if (!account.isEmpty()) {
        commands_.SelectAccount(account.toStdString());
        return;
    }
    if (const unsigned id = TemplateMenuBuilder::CommandOf(action))
        commands_.RunCommand(id);
}

void CTrayIcon::AnimationTick()
{
    if (frames_.isEmpty())
        return;
    frame_ = (frame_ + 1) % static_cast<int>(frames_.size());
    ApplyIcon(frames_.at(frame_));
}

void CTrayIcon::StopAnimation()
{
    animation_.stop();
    animating_ = false;
}

// A click ends the new-mail flash, never the checking animation.
void CTrayIcon::StopFlash()
{
    if (animating_ && !busy_) {
        animating_ = false;
        busy_ = false;
        SetIcon(baseIcons_.front());
        SetTooltipText(title_);
    }
}

void CTrayIcon::ApplyIcon(const QIcon& icon)
{
    current_ = icon;
    if (tray_)
        tray_->setIcon(icon);
}
