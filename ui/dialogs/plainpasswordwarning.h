#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;

// The one-line warning under a security field, "The password will travel unencrypted." (text
// 40147): shown while the chosen security sends the password in the clear and a password is
// entered, hidden for SSL/TLS, STARTTLS, the protocol's default and an empty password. It
// follows both fields as the user changes them.
//
// The widget itself always stays and keeps the line's room; only its label comes and goes.
// So the fields below do not move while the user goes through the security list, and a
// wizard, which sizes itself once for all its pages, has room for the warning when it
// appears. (A form layout gives a hidden row no room, whatever its size policy says.) Place
// it as a form row without a label:
//
//     auto* warning = new PlainPasswordWarning(security, kNoneRow, password, this);
//     form->insertRow(form->rowCount(), static_cast<QWidget*>(nullptr), warning);
//
// `security` and `password` are not owned and must outlive the widget (siblings in one
// dialog do). Threads: the user-interface thread.
class PlainPasswordWarning : public QWidget
{
    Q_OBJECT

public:
    // `plainRow` is the row of `security` that means "None".
    PlainPasswordWarning(QComboBox* security, int plainRow, QLineEdit* password,
                         QWidget* parent = nullptr);

    // True when the current choice sends the entered password unencrypted (the label shows).
    bool Applies() const;
    QLabel* Label() const { return label_; }

private:
    void Update();

    QComboBox* security_;
    int plainRow_;
    QLineEdit* password_;
    QLabel* label_;
};
