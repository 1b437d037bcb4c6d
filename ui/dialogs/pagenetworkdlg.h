#pragma once

#include "settingsenvironment.h"

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QSpinBox;

// Settings, Network page: how the network is reached ("UseConnection" 1-3, "0" when no
// button is set), the dial-up entry (NetworkManager profiles), hang up after the check, use
// an existing dial-up connection, and the time-out (10-600 seconds).
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
    QSpinBox* TimeoutSpin() const { return timeout_; }

private:
    QButtonGroup* connection_;
    QComboBox* entries_;
    QCheckBox* hangUp_;
    QCheckBox* existing_;
    QSpinBox* timeout_;
    std::string storedTimeout_;
};
