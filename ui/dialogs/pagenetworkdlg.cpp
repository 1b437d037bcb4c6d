#include "pagenetworkdlg.h"

#include "dialogtext.h"
#include "regsettings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QRadioButton>

CPageNetworkDlg::CPageNetworkDlg(const SettingsEnvironment& env, QWidget* parent) : QWidget(parent)
{
    CRegSettings settings;
    settings.LoadNetwork();
    const auto& n = settings.network;
    auto* form = new QFormLayout(this);
    connection_ = new QButtonGroup(this);
    // One choice at a time, and a click never takes the last one away. A stored value other
    // than 1-3 still shows with none set: an exclusive group may start empty.
    const unsigned texts[3] = {DlgText::kConnection1, DlgText::kConnection2, DlgText::kConnection3};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QRadioButton(DlgText::Text(texts[i]), this);
        connection_->addButton(button, i + 1);
        button->setChecked(n.useConnection == std::to_string(i + 1));
        form->addRow(button);
    }
    entries_ = new QComboBox(this);
    for (const std::string& e : env.dialupEntries)
        entries_->addItem(QString::fromStdString(e));
    const int at = entries_->findText(QString::fromStdString(n.dialupEntry), Qt::MatchExactly);
    entries_->setCurrentIndex(at >= 0 ? at : (entries_->count() ? 0 : -1));
    form->addRow(DlgText::Text(DlgText::kDialupEntry), entries_);
    hangUp_ = new QCheckBox(DlgText::Text(DlgText::kHangUp), this);
    hangUp_->setChecked(n.autoHangupAfterCheck == "1");
    form->addRow(hangUp_);
    existing_ = new QCheckBox(DlgText::Text(DlgText::kUseExisting), this);
    existing_->setChecked(n.useExistDialup == "1");
    form->addRow(existing_);
    timeout_ = new CTimeoutBox(this);
    storedTimeout_ = n.timeOut;
    timeout_->SetText(QString::fromStdString(n.timeOut));
    form->addRow(DlgText::Text(DlgText::kTimeout), timeout_);
}

void CPageNetworkDlg::Apply()
{
    CRegSettings settings;
    settings.LoadNetwork();
    auto& n = settings.network;
    const int chosen = connection_->checkedId();
    n.useConnection = std::to_string(chosen >= 1 && chosen <= 3 ? chosen : 0);
    if (entries_->currentIndex() >= 0)
        n.dialupEntry = entries_->currentText().toStdString();
    n.autoHangupAfterCheck = hangUp_->isChecked() ? "1" : "0";
    n.useExistDialup = existing_->isChecked() ? "1" : "0";
    // Untouched, the stored bytes stay as they were (even ones the field cannot show).
    if (timeout_->Text() != QString::fromStdString(storedTimeout_))
        n.timeOut = timeout_->Text().toStdString();
    settings.SaveNetwork();
}
