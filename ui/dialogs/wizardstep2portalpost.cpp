#include "wizardstep2portalpost.h"

#include "accountkindtext.h"
#include "accountrecord.h"
#include "dialogtext.h"
#include "wizardmessages.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

CWizardStep2Portalpost::CWizardStep2Portalpost(const std::vector<std::string>& categories,
                                               QWidget* parent)
    : QWizardPage(parent)
{
    setTitle(AccountKindText(kMailTypePortalpost));
    category_ = new QComboBox(this);
    for (const std::string& c : categories)
        category_->addItem(QString::fromStdString(c));
    category_->setCurrentIndex(categories.empty() ? -1 : 0);
    user_ = new QLineEdit(this);
    password_ = new QLineEdit(this);
    password_->setEchoMode(QLineEdit::Password);
    password_->setMaxLength(60);
    auto* form = new QFormLayout(this);
    form->addRow(DlgText::Text(DlgText::kCategory), category_);
    form->addRow(DlgText::Text(DlgText::kUser), user_);
    form->addRow(DlgText::Text(DlgText::kPassword), password_);
    setTabOrder(category_, user_);
    setTabOrder(user_, password_);
}

std::string CWizardStep2Portalpost::Category() const
{
    return category_->currentText().toStdString();
}

std::string CWizardStep2Portalpost::UserName() const
{
    return user_->text().toStdString();
}

std::string CWizardStep2Portalpost::Password() const
{
    return password_->text().toStdString();
}

bool CWizardStep2Portalpost::validatePage()
{
    if (UserName().empty()) {
        WizardWarning(this, 61380);
        return false;
    }
    if (Password().empty()) {
        WizardWarning(this, 61381);
        return false;
    }
    return !WizardPasswordRefused(this, Password());
}
