#pragma once

#include <QAbstractSpinBox>

// The time-out field. It shows the time-out in force: a stored value the checks cannot use
// (none, 0, letters, a negative number) shows as the default it falls back to, one above a day
// as the cap (TimeOutInForce). Any digits may be typed, also outside the arrows' range, and
// are kept rather than clamped; when editing ends, the field shows what the typed value puts
// in force. The arrows and the wheel step within kMinimum..kMaximum seconds.
class CTimeoutBox : public QAbstractSpinBox
{
    Q_OBJECT

public:
    static constexpr long long kMinimum = 10;
    static constexpr long long kMaximum = 600;
    static constexpr int kMaxDigits = 9;

    explicit CTimeoutBox(QWidget* parent = nullptr);
    QString Text() const;
    void SetText(const QString& text);
    // The time-out the text puts in force.
    int Seconds() const;

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;
    QSize sizeHint() const override;

protected:
    StepEnabled stepEnabled() const override;
};
