#include "wizardstep3finish.h"

#include "dialogtext.h"
#include "regsettings.h"
#include "resourceids.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

CWizardStep3Finish::CWizardStep3Finish(QWidget* parent) : QWizardPage(parent)
{
    auto* text = new QLabel(DlgText::Text(DlgText::kWizardDone), this);
    text->setWordWrap(true);
    desktop_ = new QCheckBox(DlgText::Text(ResId::kUseDesktopNotices), this);
    desktop_->setVisible(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
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
