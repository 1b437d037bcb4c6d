#pragma once

#include "connectiontester.h"

#include <QWidget>
#include <functional>
#include <string>

class CertificateTrustOffer;
class QLabel;
class QPushButton;

// The account properties' "Trusted certificate:" field: which server certificate the account
// trusts beyond the system's authorities (the start of its fingerprint, or "the system's
// trusted authorities", texts 40808-40810), a button that forgets it, and a connection test
// with the values the dialog shows. A test that the server's certificate fails offers to trust
// it (CertificateTrustOffer); trusting it tests again. Nothing is stored here: the dialog
// takes Pin() when the user presses OK.
//
// `target` gives the values to test (the dialog's fields at the time of the click); its pin
// is set by the field. Threads: the user-interface thread.
class CertificatePinField : public QWidget
{
    Q_OBJECT

public:
    using TargetSource = std::function<CConnectionTester::Target()>;

    CertificatePinField(std::string pin, TargetSource target, QWidget* parent = nullptr);

    // The fingerprint the account will trust (certificatepin.h), or empty.
    const std::string& Pin() const { return pin_; }

    QLabel* PinLabel() const { return pinLabel_; }
    QPushButton* ForgetButton() const { return forget_; }
    QPushButton* TestButton() const { return test_; }
    QLabel* TestResult() const { return result_; }
    CertificateTrustOffer* TrustOffer() const { return trust_; }
    CConnectionTester* Tester() const { return tester_; }

public slots:
    void TestConnection();

private:
    void ShowPin();

    std::string pin_;
    TargetSource target_;
    QLabel* pinLabel_;
    QPushButton* forget_;
    QPushButton* test_;
    QLabel* result_;
    CertificateTrustOffer* trust_;
    CConnectionTester* tester_;
};
