#include "wizardstep2exchange.h"

#include "accountkindtext.h"
#include "accountrecord.h"
#include "dialogtext.h"
#include "wizardmessages.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

CWizardStep2Exchange::CWizardStep2Exchange(const std::vector<std::string>& profiles,
                                           QWidget* parent)
    : QWizardPage(parent)
{
    setTitle(AccountKindText(kMailTypeExchange));
    profile_ = new QComboBox(this);
    for (const std::string& p : profiles)
        profile_->addItem(QString::fromStdString(p));
    profile_->setCurrentIndex(profiles.empty() ? -1 : 0);
    auto* user = new QLineEdit(this);
    auto* password = new QLineEdit(this);
    password->setEchoMode(QLineEdit::Password);
    user->setEnabled(false);
    password->setEnabled(false);
    auto* form = new QFormLayout(this);
    form->addRow(DlgText::Text(DlgText::kProfile), profile_);
    form->addRow(DlgText::Text(DlgText::kUser), user);
    form->addRow(DlgText::Text(DlgText::kPassword), password);
}

std::string CWizardStep2Exchange::Profile() const
{
    return profile_->currentIndex() < 0 ? std::string() : profile_->currentText().toStdString();
}

bool CWizardStep2Exchange::validatePage()
{
    if (Profile().empty()) {
        WizardWarning(this, 61377, 61396);
        return false;
    }
    return true;
}
