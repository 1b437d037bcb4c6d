#include "setaccesspassworddlg.h"

#include "dialogtext.h"
#include "dialoguebox.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace
{

constexpr unsigned kCaption = 61363;
// An Account.cfg slot holds 60 bytes; Qt counts characters, so the byte limit is checked
// again on OK for text outside ASCII.
constexpr int kMaxLength = 60;

} // namespace

CSetAccessPasswordDlg::CSetAccessPasswordDlg(const QString& account, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(DlgText::Text(DlgText::kSetAccessCaption));
    auto* name = new QLabel(DlgText::Fill(DlgText::Text(DlgText::kAccountLabel), account), this);
    name->setTextFormat(Qt::PlainText);
    auto* hint = new QLabel(DlgText::Text(DlgText::kSetAccessHint), this);
    hint->setWordWrap(true);

    first_ = new QLineEdit(this);
    second_ = new QLineEdit(this);
    for (QLineEdit* edit : {first_, second_}) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setMaxLength(kMaxLength);
    }
    auto* form = new QFormLayout;
    form->addRow(DlgText::Text(DlgText::kPassword), first_);
    form->addRow(DlgText::Text(DlgText::kConfirm), second_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSetAccessPasswordDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name);
    layout->addWidget(hint);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(first_, second_);
    first_->setFocus();
}

std::string CSetAccessPasswordDlg::Password() const
{
    return first_->text().toStdString();
}

void CSetAccessPasswordDlg::accept()
{
    const std::string a = first_->text().toStdString();
    if (a != second_->text().toStdString() || a.size() > static_cast<size_t>(kMaxLength)) {
        DialogueBox(DlgText::Text(DlgText::kPasswordsDiffer).toStdString(),
                    DlgText::Text(kCaption).toStdString(), this, kDialogueOk,
                    kDialogueIconExclamation);
        first_->clear();
        second_->clear();
        first_->setFocus();
        return;
    }
    QDialog::accept();
}
