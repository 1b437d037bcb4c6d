#pragma once

#include "settingsenvironment.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;

// Settings, General page: start at log-in (the autostart entry and "Startup"), start
// minimised, the mail client (list of installed clients) and its command, and whether the
// account passwords are kept in the desktop's keyring: switching it moves every account's
// password there or back (SettingsEnvironment::moveSecrets) and names the accounts that
// stayed as they were. Opening the page
// applies it once, so the autostart entry always follows "Startup" (also when the dialog is
// then cancelled).
class CPageGeneralDlg : public QWidget
{
    Q_OBJECT

public:
    CPageGeneralDlg(const SettingsEnvironment& env, QWidget* parent = nullptr);

    // Writes the page's values into the General settings (re-read first, so the Exchange
    // page's values are kept) and the autostart entry.
    void Apply();

    QCheckBox* StartupBox() const { return startup_; }
    QCheckBox* MinimumBox() const { return minimum_; }
    QComboBox* ClientList() const { return clients_; }
    QLineEdit* CommandEdit() const { return command_; }
    QCheckBox* KeyringBox() const { return keyring_; }

private:
    const SettingsEnvironment& env_;
    std::vector<MailClientInfo> shown_;
    QCheckBox* startup_;
    QCheckBox* minimum_;
    QComboBox* clients_;
    QLineEdit* command_;
    QCheckBox* keyring_;
};
