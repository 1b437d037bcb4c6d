#pragma once

#include <QWizardPage>

class QCheckBox;

// The closing page of the new account wizard: a text; Finish creates the account.
//
// Where the desktop has a notification server (OfferDesktopNotices(true)), the page also
// offers "Use the desktop's notifications", ticked unless the user switched the popup off;
// Apply() stores the choice ("DesktopNotify" of the Notify settings). Without a server the
// box stays hidden and Apply() changes nothing.
class CWizardStep3Finish : public QWizardPage
{
    Q_OBJECT

public:
    explicit CWizardStep3Finish(QWidget* parent = nullptr);

    void OfferDesktopNotices(bool serverPresent);
    void Apply();
    QCheckBox* DesktopBox() const { return desktop_; }

private:
    QCheckBox* desktop_;
};
