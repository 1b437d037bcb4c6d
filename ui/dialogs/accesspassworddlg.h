#pragma once

#include <QDialog>

class CAccountManager;
class QLineEdit;

// The access-password prompt: asks for the access password of one account before a
// protected action. OK with an empty entry warns and stays open without asking the table;
// otherwise the table verifies the entry (and sets the account's Unlocked flag): a right
// one closes with Accepted, a wrong one warns, clears the field and stays open. Cancel
// changes nothing. The caller first asks the table whether the account has an access
// password at all and opens this only then:
//     CAccessPasswordDlg dlg(&manager, name, this);
//     if (dlg.exec() == QDialog::Accepted) ...
// `table` is not owned and must outlive the dialog. Threads: the user-interface thread.
class CAccessPasswordDlg : public QDialog
{
    Q_OBJECT

public:
    CAccessPasswordDlg(CAccountManager* table, const QString& account, QWidget* parent = nullptr);

    QLineEdit* PasswordEdit() const { return edit_; }

public slots:
    void accept() override;

private:
    CAccountManager* table_;
    QString account_;
    QLineEdit* edit_;
};
