#pragma once

#include <QAbstractSpinBox>

// The time-out field: the text is the value, exactly as stored or typed (digits, or empty
// for a missing value), so a value outside the arrows' range is shown and kept rather than
// clamped. The arrows and the wheel step within kMinimum..kMaximum seconds.
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

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;
    QSize sizeHint() const override;

protected:
    StepEnabled stepEnabled() const override;
};
