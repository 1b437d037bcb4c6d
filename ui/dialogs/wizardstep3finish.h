#pragma once

#include <QWizardPage>
#include <string>

class QCheckBox;
class QLabel;
class QRadioButton;
class QSpinBox;

// The closing page of the new account wizard: a text, the account's schedule and, for POP3
// and IMAP4, what to do with the mail already on the server; Finish creates the account.
//
// Schedule: "Check every [15] minutes", ticked, 1-99999 minutes: the account's own periodic
// check ("PeriodCheck=" and "Period=" of its Account.inf, as the properties dialog edits
// them), so a new account is checked without a visit to the properties.
//
// "Mail already on the server:" offers "show it" and "only mail that arrives from now on"
// (POP3 and IMAP4 only; hidden for other kinds). From now on is the default when the test
// of step 2 counted more than kFromNowAbove messages: a first check would otherwise fetch
// every header and announce them all. The default is set each time the page is entered
// (Offer) until the user picks one.
//
// Where the desktop has a notification server (OfferDesktopNotices(true)), the page also
// offers "Use the desktop's notifications", ticked unless the user switched the popup off;
// Apply() stores the choice ("DesktopNotify" of the Notify settings). Without a server the
// box stays hidden and Apply() changes nothing.
class CWizardStep3Finish : public QWizardPage
{
    Q_OBJECT

public:
    static constexpr int kFromNowAbove = 500;

    explicit CWizardStep3Finish(QWidget* parent = nullptr);

    void OfferDesktopNotices(bool serverPresent);
    // Called as the page is entered: the account's kind ("POP3", "IMAP4", ...) and the
    // number of messages the connection test counted (-1: no test passed).
    void Offer(const std::string& kind, int testedMessages);
    void Apply();

    bool PeriodCheck() const;
    int Period() const;
    // The account shown is POP3/IMAP4 and "only mail that arrives from now on" is chosen.
    bool FromNowOn() const;

    QCheckBox* DesktopBox() const { return desktop_; }
    QCheckBox* PeriodBox() const { return periodCheck_; }
    QSpinBox* PeriodSpin() const { return period_; }
    QRadioButton* ShowExistingButton() const { return showExisting_; }
    QRadioButton* FromNowButton() const { return fromNow_; }

private:
    QCheckBox* desktop_;
    QCheckBox* periodCheck_;
    QSpinBox* period_;
    QLabel* existingLabel_;
    QRadioButton* showExisting_;
    QRadioButton* fromNow_;
    bool existingChosen_ = false; // the user picked one: Offer keeps it
};
