#include "pagenetworkdlg.h"

#include "dialogtext.h"
#include "regsettings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QRadioButton>
#include <QSpinBox>

CPageNetworkDlg::CPageNetworkDlg(const SettingsEnvironment& env, QWidget* parent) : QWidget(parent)
{
    CRegSettings settings;
    settings.LoadNetwork();
    const auto& n = settings.network;
    auto* form = new QFormLayout(this);
    connection_ = new QButtonGroup(this);
    // Free choice: no button set is a state of its own ("0").
    connection_->setExclusive(false);
    const unsigned texts[3] = {DlgText::kConnection1, DlgText::kConnection2, DlgText::kConnection3};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QRadioButton(DlgText::Text(texts[i]), this);
        button->setAutoExclusive(false);
        connection_->addButton(button, i + 1);
        button->setChecked(n.useConnection == std::to_string(i + 1));
        form->addRow(button);
    }
    // One at most, but none is allowed: a plain exclusive group could not show "none".
    connect(connection_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (!on)
            return;
        for (QAbstractButton* b : connection_->buttons())
            if (connection_->id(b) != id)
                b->setChecked(false);
    });
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
    timeout_ = new QSpinBox(this);
    timeout_->setRange(10, 600);
    storedTimeout_ = n.timeOut;
    timeout_->setValue(QString::fromStdString(n.timeOut).toInt());
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
    // The spin box keeps the value in its range; an untouched stored text stays as it was.
    const std::string shown = std::to_string(timeout_->value());
    if (QString::fromStdString(storedTimeout_).toInt() != timeout_->value())
        n.timeOut = shown;
    settings.SaveNetwork();
}
