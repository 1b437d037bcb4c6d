#include "desktopdialoguebackend.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

int DesktopDialogueBackend::Show(const std::string& text, const std::string& caption, void* owner,
                                 int buttons, int icon)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<QApplication*>(app) || QCoreApplication::closingDown())
        return fallback_.Show(text, caption, owner, buttons, icon);
    if (QThread::currentThread() == app->thread())
        return ShowNow(text, caption, owner, buttons, icon);
    int result = kDialogueIdCancel;
    // `owner` is only touched on its own thread, inside the call.
    const bool delivered = QMetaObject::invokeMethod(
        app, [&] { result = ShowNow(text, caption, owner, buttons, icon); },
        Qt::BlockingQueuedConnection);
    if (!delivered)
        return fallback_.Show(text, caption, owner, buttons, icon);
    return result;
}

int DesktopDialogueBackend::ShowNow(const std::string& text, const std::string& caption,
                                    void* owner, int buttons, int icon)
{
    QMessageBox box(static_cast<QWidget*>(owner));
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    switch (icon) {
    case kDialogueIconStop:
        box.setIcon(QMessageBox::Critical);
        break;
    case kDialogueIconQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case kDialogueIconExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case kDialogueIconInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    switch (buttons) {
    case kDialogueOkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case kDialogueRetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Retry);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
        return kDialogueIdOk;
    case QMessageBox::Retry:
        return kDialogueIdRetry;
    case QMessageBox::Cancel:
        return kDialogueIdCancel;
    default:
        return buttons == kDialogueOk ? kDialogueIdOk : kDialogueIdCancel;
    }
}
