#pragma once

#include "settingsenvironment.h"

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTimeEdit;

// Settings, Notify page: flash the tray icon, 3D notifier, start the mail client, popup,
// mail LED (enabled only when a mail LED exists), and the sound with its file (read-only
// field, Browse, Play). Sound off stores "Sound" "0" and an empty "SoundFileName".
// Below the popup, "Use the desktop's notifications" (enabled while the popup is on);
// at the end the quiet hours (from, until; the same time twice stores none) and "Follow the
// desktop's do-not-disturb".
class CPageNotifyDlg : public QWidget
{
    Q_OBJECT

public:
    CPageNotifyDlg(const SettingsEnvironment& env, QWidget* parent = nullptr);
    void Apply();

    QCheckBox* FlashBox() const { return flash_; }
    QCheckBox* Effect3dBox() const { return effect3d_; }
    QCheckBox* ClientBox() const { return client_; }
    QCheckBox* MessageBox() const { return message_; }
    QCheckBox* LedBox() const { return led_; }
    QCheckBox* SoundBox() const { return sound_; }
    QLineEdit* SoundFile() const { return file_; }
    QPushButton* BrowseButton() const { return browse_; }
    QPushButton* PlayButton() const { return play_; }
    QCheckBox* DesktopBox() const { return desktop_; }
    QTimeEdit* QuietFrom() const { return quietFrom_; }
    QTimeEdit* QuietUntil() const { return quietUntil_; }
    QCheckBox* FollowDndBox() const { return followDnd_; }

public slots:
    void Browse();
    void Play();

private:
    void SoundToggled(bool on);

    const SettingsEnvironment& env_;
    QCheckBox* flash_;
    QCheckBox* effect3d_;
    QCheckBox* client_;
    QCheckBox* message_;
    QCheckBox* led_;
    QCheckBox* sound_;
    QLineEdit* file_;
    QPushButton* browse_;
    QPushButton* play_;
    QCheckBox* desktop_;
    QTimeEdit* quietFrom_;
    QTimeEdit* quietUntil_;
    QCheckBox* followDnd_;
};
