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
        button->setChecked(n.useConnection.Get() == i + 1);
        form->addRow(button);
    }
    entries_ = new QComboBox(this);
    for (const std::string& e : env.dialupEntries)
        entries_->addItem(QString::fromStdString(e));
    const int at =
        entries_->findText(QString::fromStdString(n.dialupEntry.Get()), Qt::MatchExactly);
    entries_->setCurrentIndex(at >= 0 ? at : (entries_->count() ? 0 : -1));
    form->addRow(DlgText::Text(DlgText::kDialupEntry), entries_);
    hangUp_ = new QCheckBox(DlgText::Text(DlgText::kHangUp), this);
    hangUp_->setChecked(n.autoHangupAfterCheck.Get());
    form->addRow(hangUp_);
    existing_ = new QCheckBox(DlgText::Text(DlgText::kUseExisting), this);
    existing_->setChecked(n.useExistDialup.Get());
    form->addRow(existing_);
    timeout_ = new CTimeoutBox(this);
    // What the checks use, not what happens to be stored: an unusable stored value shows as
    // the default it falls back to.
    shownTimeout_ = QString::number(n.TimeOutSeconds());
    timeout_->SetText(shownTimeout_);
    form->addRow(DlgText::Text(DlgText::kTimeout), timeout_);
}

void CPageNetworkDlg::Apply()
{
    CRegSettings settings;
    settings.LoadNetwork();
    auto& n = settings.network;
    const int chosen = connection_->checkedId();
    n.useConnection.Set(chosen >= 1 && chosen <= 3 ? chosen : 0);
    if (entries_->currentIndex() >= 0)
        n.dialupEntry.Set(entries_->currentText().toStdString());
    n.autoHangupAfterCheck.Set(hangUp_->isChecked());
    n.useExistDialup.Set(existing_->isChecked());
    // Untouched, the stored bytes stay as they were (even ones the field cannot show); a
    // change stores the value that will be in force.
    if (timeout_->Text() != shownTimeout_)
        n.timeOut.Set(timeout_->Seconds());
    settings.SaveNetwork();
}
