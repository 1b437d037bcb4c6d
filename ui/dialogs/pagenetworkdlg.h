#pragma once

#include "settingsenvironment.h"
#include "timeoutbox.h"

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;

// Settings, Network page: how the network is reached ("UseConnection" 1-3, "0" when no
// button is set), the dial-up entry (NetworkManager profiles), hang up after the check, use
// an existing dial-up connection, and the time-out in force (seconds; the arrows step 10-600,
// any digits may be typed, see CTimeoutBox).
class CPageNetworkDlg : public QWidget
{
    Q_OBJECT

public:
    CPageNetworkDlg(const SettingsEnvironment& env, QWidget* parent = nullptr);
    void Apply();

    QButtonGroup* Connection() const { return connection_; }
    QComboBox* EntryList() const { return entries_; }
    QCheckBox* HangUpBox() const { return hangUp_; }
    QCheckBox* ExistingBox() const { return existing_; }
    CTimeoutBox* TimeoutBox() const { return timeout_; }

private:
    QButtonGroup* connection_;
    QComboBox* entries_;
    QCheckBox* hangUp_;
    QCheckBox* existing_;
    CTimeoutBox* timeout_;
    QString shownTimeout_;
};
