#pragma once

#include "settingsenvironment.h"

#include <QWidget>

class QCheckBox;
class QComboBox;

// Settings, Exchange page (only with an Exchange provider): the account watched at start-up
// ("DefaultExchange", one of the Exchange accounts) and "AutoStartExchange". A stored name
// that is no Exchange account is replaced by the first one as soon as the page opens.
class CPageExchangedlg : public QWidget
{
    Q_OBJECT

public:
    CPageExchangedlg(const SettingsEnvironment& env, QWidget* parent = nullptr);
    void Apply();

    QComboBox* AccountList() const { return accounts_; }
    QCheckBox* AutoStartBox() const { return autoStart_; }

private:
    QComboBox* accounts_;
    QCheckBox* autoStart_;
};
