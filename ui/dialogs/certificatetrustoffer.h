#pragma once

#include "peercertificate.h"

#include <QWidget>

class QLabel;
class QPushButton;

// The offer under a connection test that a server certificate failed: what the certificate
// names (subject, issuer, validity, SHA-256 fingerprint) and a button "Trust this certificate
// for this account" (texts 40800-40807). The heading says whether the certificate is simply
// not trusted or differs from the one the account trusts (the server's certificate changed).
//
// Hidden until Offer(); clicking the button hides it again and emits Trusted with the
// fingerprint the account keeps (certificatepin.h). The texts come from the server and are
// shown as plain text, never as markup. Threads: the user-interface thread.
class CertificateTrustOffer : public QWidget
{
    Q_OBJECT

public:
    explicit CertificateTrustOffer(QWidget* parent = nullptr);

    // Shows `certificate`; an empty one withdraws the offer.
    void Offer(const PeerCertificate& certificate);
    void Withdraw();

    QLabel* Heading() const { return heading_; }
    QLabel* Details() const { return details_; }
    QPushButton* TrustButton() const { return trust_; }

signals:
    void Trusted(const QString& pin);

private:
    QLabel* heading_;
    QLabel* details_;
    QPushButton* trust_;
    QString pin_;
};
