#include "accesspassworddlg.h"

#include "accountmanager.h"
#include "dialogtext.h"
#include "dialoguebox.h"
#include "resourcelibrary.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace
{

constexpr unsigned kCaption = 61363;
constexpr unsigned kEmptyText = 61364;
constexpr unsigned kWrongText = 61365;
// Account.cfg keeps at most 60 bytes per value; a longer entry could never match.
constexpr int kMaxLength = 60;

} // namespace

CAccessPasswordDlg::CAccessPasswordDlg(CAccountManager* table, const QString& account,
                                       QWidget* parent)
    : QDialog(parent), table_(table), account_(account)
{
    setWindowTitle(DlgText::Text(kCaption));
    auto* name = new QLabel(DlgText::Fill(DlgText::Text(DlgText::kAccountLabel), account), this);
    name->setTextFormat(Qt::PlainText);

    edit_ = new QLineEdit(this);
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setMaxLength(kMaxLength);
    auto* form = new QFormLayout;
    form->addRow(DlgText::Text(DlgText::kPassword), edit_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAccessPasswordDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    edit_->setFocus();
}

void CAccessPasswordDlg::accept()
{
    const std::string entry = edit_->text().toStdString();
    const std::string caption = LoadResourceString(kCaption);
    if (entry.empty()) {
        DialogueBox(LoadResourceString(kEmptyText), caption, this, kDialogueOk,
                    kDialogueIconExclamation);
        edit_->setFocus();
        return;
    }
    if (table_ && table_->VerifyAccessPassword(account_.toStdString(), entry)) {
        QDialog::accept();
        return;
    }
    DialogueBox(LoadResourceString(kWrongText), caption, this, kDialogueOk,
                kDialogueIconExclamation);
    edit_->clear();
    edit_->setFocus();
}
