#include "certificatetrustoffer.h"

#include "certificatepin.h"
#include "dialogtext.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{

QString Line(unsigned label, const std::string& value)
{
    return DlgText::Text(label) + QLatin1Char(' ') + QString::fromStdString(value);
}

} // namespace

CertificateTrustOffer::CertificateTrustOffer(QWidget* parent) : QWidget(parent)
{
    heading_ = new QLabel(this);
    heading_->setWordWrap(true);
    heading_->setTextFormat(Qt::PlainText);
    details_ = new QLabel(this);
    details_->setWordWrap(true);
    details_->setTextFormat(Qt::PlainText);
    // The fingerprint is worth comparing with what the server's administrator says.
    details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    trust_ = new QPushButton(DlgText::Text(DlgText::kTrustCertificate), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(heading_);
    layout->addWidget(details_);
    layout->addWidget(trust_, 0, Qt::AlignLeft);
    connect(trust_, &QPushButton::clicked, this, [this] {
        const QString pin = pin_;
        Withdraw();
        emit Trusted(pin);
    });
    hide();
}

void CertificateTrustOffer::Offer(const PeerCertificate& certificate)
{
    if (certificate.Empty()) {
        Withdraw();
        return;
    }
    pin_ = QString::fromStdString(certificate.sha256);
    heading_->setText(DlgText::Text(certificate.changed ? DlgText::kCertificateChanged
                                                        : DlgText::kCertificateUntrusted));
    const QString validity =
        DlgText::Fill(DlgText::Fill(DlgText::Text(DlgText::kCertificateValidity),
                                    QString::fromStdString(certificate.notBefore)),
                      QString::fromStdString(certificate.notAfter));
    details_->setText(Line(DlgText::kCertificateSubject, certificate.subject) + QLatin1Char('\n') +
                      Line(DlgText::kCertificateIssuer, certificate.issuer) + QLatin1Char('\n') +
                      DlgText::Text(DlgText::kCertificateValid) + QLatin1Char(' ') + validity +
                      QLatin1Char('\n') +
                      Line(DlgText::kCertificateFingerprint, PinForReading(certificate.sha256)));
    show();
}

void CertificateTrustOffer::Withdraw()
{
    pin_.clear();
    hide();
}
