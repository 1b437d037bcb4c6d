#pragma once

#include <QWizardPage>

// The closing page of the new account wizard: a text only; Finish creates the account.
class CWizardStep3Finish : public QWizardPage
{
    Q_OBJECT

public:
    explicit CWizardStep3Finish(QWidget* parent = nullptr);
};
