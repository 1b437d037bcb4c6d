#include "wizardstep3finish.h"

#include "dialogtext.h"

#include <QLabel>
#include <QVBoxLayout>

CWizardStep3Finish::CWizardStep3Finish(QWidget* parent) : QWizardPage(parent)
{
    auto* text = new QLabel(DlgText::Text(DlgText::kWizardDone), this);
    text->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addStretch();
    setFinalPage(true);
}
