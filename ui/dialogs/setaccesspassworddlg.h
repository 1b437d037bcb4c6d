#pragma once

#include <QDialog>

class QLineEdit;

// Sets or clears an account's access password: the new password twice. OK with two equal
// entries closes with Accepted (both empty = remove the access password); different entries
// warn, clear both fields and stay open. The dialog only gathers the value; the caller
// stores it (the properties dialog writes it with the rest of the account).
//     CSetAccessPasswordDlg dlg(name, this);
//     if (dlg.exec() == QDialog::Accepted) use(dlg.Password());
// Threads: the user-interface thread.
class CSetAccessPasswordDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSetAccessPasswordDlg(const QString& account, QWidget* parent = nullptr);

    // The accepted password in UTF-8; empty = none.
    std::string Password() const;

    QLineEdit* PasswordEdit() const { return first_; }
    QLineEdit* ConfirmEdit() const { return second_; }

public slots:
    void accept() override;

private:
    QLineEdit* first_;
    QLineEdit* second_;
};
