#include "wizardstep3finish.h"

#include "dialogtext.h"
#include "regsettings.h"
#include "resourceids.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace
{

// The same range and default the account's periodic check has everywhere.
constexpr int kDefaultPeriod = 15;
constexpr int kMaxPeriod = 99999;

} // namespace

CWizardStep3Finish::CWizardStep3Finish(QWidget* parent) : QWizardPage(parent)
{
    auto* text = new QLabel(DlgText::Text(DlgText::kWizardDone), this);
    text->setWordWrap(true);

    // Created in reading order, which is also the order Tab walks them.
    periodCheck_ = new QCheckBox(DlgText::Text(DlgText::kWizardPeriod), this);
    periodCheck_->setChecked(true);
    period_ = new QSpinBox(this);
    period_->setRange(1, kMaxPeriod);
    period_->setValue(kDefaultPeriod);
    auto* minutes = new QLabel(DlgText::Text(DlgText::kWizardMinutes), this);
    auto* periodRow = new QHBoxLayout;
    periodRow->addWidget(periodCheck_);
    periodRow->addWidget(period_);
    periodRow->addWidget(minutes);
    periodRow->addStretch();
    connect(periodCheck_, &QCheckBox::toggled, period_, &QWidget::setEnabled);

    existingLabel_ = new QLabel(DlgText::Text(DlgText::kWizardExisting), this);
    showExisting_ = new QRadioButton(DlgText::Text(DlgText::kWizardShowExisting), this);
    fromNow_ = new QRadioButton(DlgText::Text(DlgText::kWizardFromNow), this);
    showExisting_->setChecked(true);
    auto* existing = new QButtonGroup(this);
    existing->addButton(showExisting_);
    existing->addButton(fromNow_);
    // clicked, not toggled: only the user's own choice outlasts the next Offer.
    connect(existing, &QButtonGroup::buttonClicked, this, [this] { existingChosen_ = true; });

    desktop_ = new QCheckBox(DlgText::Text(ResId::kUseDesktopNotices), this);
    desktop_->setVisible(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(periodRow);
    layout->addWidget(existingLabel_);
    layout->addWidget(showExisting_);
    layout->addWidget(fromNow_);
    layout->addWidget(desktop_);
    layout->addStretch();
    setFinalPage(true);
}

void CWizardStep3Finish::OfferDesktopNotices(bool serverPresent)
{
    desktop_->setVisible(serverPresent);
    if (!serverPresent)
        return;
    CRegSettings settings;
    settings.LoadNotify();
    // The notices replace the popup: a user who switched the popup off is not asked to take
    // notices instead, but may tick the box.
    desktop_->setChecked(settings.notify.desktopNotify.Get() || settings.notify.message.Get());
}

void CWizardStep3Finish::Offer(const std::string& kind, int testedMessages)
{
    const bool mail = kind == "POP3" || kind == "IMAP4";
    existingLabel_->setVisible(mail);
    showExisting_->setVisible(mail);
    fromNow_->setVisible(mail);
    if (existingChosen_)
        return;
    if (testedMessages > kFromNowAbove)
        fromNow_->setChecked(true);
    else
        showExisting_->setChecked(true);
}

bool CWizardStep3Finish::PeriodCheck() const
{
    return periodCheck_->isChecked();
}

int CWizardStep3Finish::Period() const
{
    return period_->value();
}

bool CWizardStep3Finish::FromNowOn() const
{
    return !fromNow_->isHidden() && fromNow_->isChecked();
}

void CWizardStep3Finish::Apply()
{
    if (desktop_->isHidden())
        return;
    CRegSettings settings;
    if (!settings.LoadNotify())
        return;
    settings.notify.desktopNotify.Set(desktop_->isChecked());
    settings.SaveNotify();
}
