#include "pageexchangedlg.h"

#include "dialogtext.h"
#include "regsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>

CPageExchangedlg::CPageExchangedlg(const SettingsEnvironment& env, QWidget* parent)
    : QWidget(parent)
{
    accounts_ = new QComboBox(this);
    for (const std::string& a : env.exchangeAccounts)
        accounts_->addItem(QString::fromStdString(a));
    CRegSettings settings;
    settings.LoadGeneral();
    if (accounts_->count() > 0) {
        const int at = accounts_->findText(
            QString::fromStdString(settings.general.defaultExchange.Get()), Qt::MatchExactly);
        accounts_->setCurrentIndex(at >= 0 ? at : 0);
        if (at < 0) {
            settings.general.defaultExchange.Set(env.exchangeAccounts.front());
            settings.SaveGeneral();
        }
    }
    autoStart_ = new QCheckBox(DlgText::Text(DlgText::kAutoStartExchange), this);
    autoStart_->setChecked(settings.general.autoStartExchange.Get() != 0);
    auto* form = new QFormLayout(this);
    form->addRow(DlgText::Text(DlgText::kDefaultExchange), accounts_);
    form->addRow(autoStart_);
}

void CPageExchangedlg::Apply()
{
    CRegSettings settings;
    settings.LoadGeneral();
    settings.general.defaultExchange.Set(
        accounts_->currentIndex() < 0 ? std::string() : accounts_->currentText().toStdString());
    settings.general.autoStartExchange.Set(autoStart_->isChecked() ? 1 : 0);
    settings.SaveGeneral();
}
