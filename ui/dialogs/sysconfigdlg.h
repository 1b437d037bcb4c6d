#pragma once

#include "settingsenvironment.h"

#include <QDialog>

class CPageExchangedlg;
class CPageGeneralDlg;
class CPageNetworkDlg;
class CPageNotifyDlg;
class QTabWidget;

// The settings dialog (caption 61397): General, Network, Notify and, with an Exchange
// provider, Exchange pages. OK applies every page in tab order and closes; Cancel closes
// (the General page has applied itself once on opening). Help opens the active page's topic.
//
//     CSysConfigDlg dlg(SettingsEnvironment::FromSystem(&table, mapiPresent), this);
//     dlg.exec();
//
// Threads: the user-interface thread.
class CSysConfigDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSysConfigDlg(SettingsEnvironment env, QWidget* parent = nullptr);

    CPageGeneralDlg* General() const { return general_; }
    CPageNetworkDlg* Network() const { return network_; }
    CPageNotifyDlg* Notify() const { return notify_; }
    CPageExchangedlg* Exchange() const { return exchange_; } // nullptr without a provider
    QTabWidget* Tabs() const { return tabs_; }

    // The help topic of the active page (texts 61387, 61388, 61389, 32897).
    std::string HelpTopic() const;

public slots:
    void accept() override;

private:
    SettingsEnvironment env_;
    QTabWidget* tabs_;
    CPageGeneralDlg* general_;
    CPageNetworkDlg* network_;
    CPageNotifyDlg* notify_;
    CPageExchangedlg* exchange_ = nullptr;
};
