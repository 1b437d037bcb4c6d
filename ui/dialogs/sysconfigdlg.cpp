#include "sysconfigdlg.h"

#include "dialogtext.h"
#include "pageexchangedlg.h"
#include "pagegeneraldlg.h"
#include "pagenetworkdlg.h"
#include "pagenotifydlg.h"
#include "resourcelibrary.h"

#include <QDialogButtonBox>
#include <QTabWidget>
#include <QVBoxLayout>

CSysConfigDlg::CSysConfigDlg(SettingsEnvironment env, QWidget* parent)
    : QDialog(parent), env_(std::move(env))
{
    setWindowTitle(DlgText::Text(61397));
    tabs_ = new QTabWidget(this);
    general_ = new CPageGeneralDlg(env_, tabs_);
    network_ = new CPageNetworkDlg(env_, tabs_);
    notify_ = new CPageNotifyDlg(env_, tabs_);
    tabs_->addTab(general_, DlgText::Text(DlgText::kPageGeneral));
    tabs_->addTab(network_, DlgText::Text(DlgText::kPageNetwork));
    tabs_->addTab(notify_, DlgText::Text(DlgText::kPageNotify));
    if (env_.mapiPresent) {
        exchange_ = new CPageExchangedlg(env_, tabs_);
        tabs_->addTab(exchange_, DlgText::Text(DlgText::kPageExchange));
    }
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSysConfigDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] {
        if (env_.openHelp)
            env_.openHelp(HelpTopic());
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
}

std::string CSysConfigDlg::HelpTopic() const
{
    const unsigned topics[4] = {61387, 61388, 61389, 32897};
    const int page = tabs_->currentIndex();
    return LoadResourceString(topics[page < 0 || page > 3 ? 0 : page]);
}

void CSysConfigDlg::accept()
{
    general_->Apply();
    network_->Apply();
    notify_->Apply();
    if (exchange_)
        exchange_->Apply();
    QDialog::accept();
}
