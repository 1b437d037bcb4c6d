#include "certificatepinfield.h"

#include "certificatepin.h"
#include "certificatetrustoffer.h"
#include "dialogtext.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CertificatePinField::CertificatePinField(std::string pin, TargetSource target, QWidget* parent)
    : QWidget(parent), pin_(std::move(pin)), target_(std::move(target))
{
    pinLabel_ = new QLabel(this);
    pinLabel_->setTextFormat(Qt::PlainText);
    forget_ = new QPushButton(DlgText::Text(DlgText::kForgetCertificate), this);
    // Not the wizard's "&Test Connection": the properties dialog has "Account &type:".
    test_ = new QPushButton(DlgText::Text(DlgText::kTestPinnedConnection), this);
    result_ = new QLabel(this);
    result_->setWordWrap(true);
    result_->setTextFormat(Qt::PlainText);
    trust_ = new CertificateTrustOffer(this);
    tester_ = new CConnectionTester(this);

    auto* pinRow = new QHBoxLayout;
    pinRow->addWidget(pinLabel_, 1);
    pinRow->addWidget(forget_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(pinRow);
    layout->addWidget(test_, 0, Qt::AlignLeft);
    layout->addWidget(result_);
    layout->addWidget(trust_);

    connect(forget_, &QPushButton::clicked, this, [this] {
        pin_.clear();
        ShowPin();
    });
    connect(test_, &QPushButton::clicked, this, &CertificatePinField::TestConnection);
    connect(tester_, &CConnectionTester::Finished, this, [this](bool, const QString& text) {
        result_->setText(text);
        test_->setEnabled(true);
        trust_->Offer(tester_->RefusedCertificate());
    });
    connect(trust_, &CertificateTrustOffer::Trusted, this, [this](const QString& trusted) {
        pin_ = trusted.toStdString();
        ShowPin();
        TestConnection();
    });
    ShowPin();
}

void CertificatePinField::ShowPin()
{
    pinLabel_->setText(pin_.empty() ? DlgText::Text(DlgText::kTrustStoreDecides)
                                    : QString::fromStdString(PinForReading(pin_).substr(0, 23)) +
                                          QStringLiteral("..."));
    pinLabel_->setToolTip(QString::fromStdString(PinForReading(pin_)));
    forget_->setEnabled(!pin_.empty());
}

void CertificatePinField::TestConnection()
{
    CConnectionTester::Target target = target_();
    target.pin = pin_;
    if (tester_->Start(target)) {
        test_->setEnabled(false);
        trust_->Withdraw();
        result_->setText(DlgText::Text(DlgText::kTestRunning));
    }
}
