#include "desktopnotifyactions.h"

#include "mailclientstart.h"
#include "mailledblinker.h"
#include "notifywindow.h"
#include "popupframe.h"
#include "trayicon.h"

CDesktopNotifyActions::CDesktopNotifyActions(NotifyWindow& window, CTrayIcon& tray,
                                             CMailLedBlinker& blinker)
    : window_(window), tray_(tray), blinker_(blinker)
{
}

bool CDesktopNotifyActions::IsMainWindowMinimised() const
{
    return window_.IsMinimised();
}

void CDesktopNotifyActions::BringMainWindowToFront()
{
    window_.BringToFront();
}

void CDesktopNotifyActions::PlaySound(const std::string& fileName)
{
    sound_.Play(fileName);
}

void CDesktopNotifyActions::FlashTrayIcon(const std::string& tooltip)
{
    tray_.FlashNewMail(QString::fromStdString(tooltip));
}

void CDesktopNotifyActions::StartLedBlink()
{
    blinker_.StartBlink();
}

void CDesktopNotifyActions::Run3dEffect()
{
    window_.Run3dEffect();
}

void CDesktopNotifyActions::ShowPopup(const std::string& body, const std::string& title,
                                      unsigned bitmapId, int seconds)
{
    auto* popup = new CPopupFrame;
    popup->SetSize(CPopupFrame::kDefaultWidth, CPopupFrame::kDefaultHeight);
    if (!popup->Create(window_.PopupScreen(), QString::fromStdString(body),
                       QString::fromStdString(title), bitmapId, seconds))
        delete popup;
}

void CDesktopNotifyActions::StartMailClient(const std::string& command)
{
    StartMailClientCommand(command);
}

bool CDesktopNotifyActions::ShowDesktopNotice(const std::string& account, NoticeKind kind,
                                              const std::string& title, const std::string& body)
{
    const DesktopNotifier::Kind notice =
        kind == NoticeKind::NewMail   ? DesktopNotifier::Kind::NewMail
        : kind == NoticeKind::Failure ? DesktopNotifier::Kind::Failure
                                      : DesktopNotifier::Kind::Summary;
    return notifier_.Show(account, notice, title, body);
}

bool CDesktopNotifyActions::ShowCertificateNotice(const std::string& account,
                                                  const std::string& title, const std::string& body,
                                                  const std::string& pin)
{
    return notifier_.Show(account, DesktopNotifier::Kind::Failure, title, body, pin);
}

std::optional<bool> CDesktopNotifyActions::DesktopInhibited()
{
    return notifier_.Inhibited();
}
