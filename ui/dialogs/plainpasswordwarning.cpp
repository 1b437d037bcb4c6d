#include "plainpasswordwarning.h"

#include "dialogtext.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

PlainPasswordWarning::PlainPasswordWarning(QComboBox* security, int plainRow, QLineEdit* password,
                                           QWidget* parent)
    : QWidget(parent), security_(security), plainRow_(plainRow), password_(password)
{
    label_ = new QLabel(DlgText::Text(DlgText::kPlainPassword), this);
    label_->setTextFormat(Qt::PlainText);
    QSizePolicy policy = label_->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    label_->setSizePolicy(policy);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label_);
    connect(security_, &QComboBox::currentIndexChanged, this, &PlainPasswordWarning::Update);
    connect(password_, &QLineEdit::textChanged, this, &PlainPasswordWarning::Update);
    Update();
}

bool PlainPasswordWarning::Applies() const
{
    return security_->currentIndex() == plainRow_ && !password_->text().isEmpty();
}

void PlainPasswordWarning::Update()
{
    label_->setVisible(Applies());
}
