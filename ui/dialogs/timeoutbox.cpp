#include "timeoutbox.h"

#include "settingnumber.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <algorithm>

// No length limit on the line itself: it would cut a longer stored text on showing it.
CTimeoutBox::CTimeoutBox(QWidget* parent) : QAbstractSpinBox(parent)
{
    connect(this, &QAbstractSpinBox::editingFinished, this, [this] {
        const QString inForce = QString::number(Seconds());
        if (Text() != inForce)
            SetText(inForce);
    });
}

QString CTimeoutBox::Text() const
{
    return lineEdit()->text();
}

void CTimeoutBox::SetText(const QString& text)
{
    lineEdit()->setText(text);
}

int CTimeoutBox::Seconds() const
{
    return TimeOutInForce(SettingNumber(Text().toStdString()));
}

void CTimeoutBox::stepBy(int steps)
{
    bool number = false;
    const long long now = Text().toLongLong(&number);
    // Outside the range, the first step lands on its nearest end; an empty field starts low.
    const long long next = number ? std::clamp(now + steps, kMinimum, kMaximum) : kMinimum;
    SetText(QString::number(next));
    selectAll();
}

QValidator::State CTimeoutBox::validate(QString& input, int&) const
{
    if (input.size() > kMaxDigits)
        return QValidator::Invalid;
    for (const QChar c : input)
        if (c < u'0' || c > u'9')
            return QValidator::Invalid;
    return QValidator::Acceptable;
}

QSize CTimeoutBox::sizeHint() const
{
    // The base class sizes for a value it does not have; leave room for a few digits.
    QSize size = QAbstractSpinBox::sizeHint();
    size.rwidth() += fontMetrics().horizontalAdvance(QStringLiteral("00000"));
    return size;
}

QAbstractSpinBox::StepEnabled CTimeoutBox::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    bool number = false;
    const long long now = Text().toLongLong(&number);
    if (!number)
        return StepUpEnabled | StepDownEnabled;
    StepEnabled enabled = StepNone;
    if (now < kMaximum)
        enabled |= StepUpEnabled;
    if (now > kMinimum)
        enabled |= StepDownEnabled;
    return enabled;
}
