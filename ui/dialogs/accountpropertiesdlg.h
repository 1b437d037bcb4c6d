#pragma once

#include "accountplugins.h"
#include "accountrecord.h"

#include <QDialog>
#include <memory>
#include <optional>
#include <string>

class CAccountManager;
class CertificatePinField;
class PlainPasswordWarning;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimeEdit;

// The properties of one account: every field of its Account.inf (the kind's server, or
// web-mail category, or Exchange profile; port; user; password; security; periodic check
// and period; daily check and time; preview) and its access password. The kind is shown in
// the user's words (AccountKindText); security "None" with a password shows a warning under
// the security field (PlainPasswordWarning). A POP3 or IMAP4 account also shows the server
// certificate it trusts, with a connection test that offers to trust one the server's
// certificate fails (CertificatePinField); OK stores the choice with the rest.
//
// OK hands the edited record to CAccountEditor::ApplyProperties, which checks everything
// first and changes nothing when a check fails, then renames (at once, or deferred while the
// account's check runs), updates Account.cfg, replaces Account.inf and sets the table's
// schedule, taking every step back when a later one fails. The dialog shows the refusal
// (the name rules' messages, or "The account could not be saved: ...") and stays open, so
// OK can be tried again.
//
//     CAccountPropertiesDlg dlg(&table, name, plugins, this);
//     if (dlg.exec() == QDialog::Accepted) tree.Rename(name, dlg.NewName());
//
// A value left untouched keeps its stored text exactly. `table` is not owned and must
// outlive the dialog. Threads: the user-interface thread.
class CAccountPropertiesDlg : public QDialog
{
    Q_OBJECT

public:
    CAccountPropertiesDlg(CAccountManager* table, const std::string& account,
                          std::shared_ptr<const AccountPlugins> plugins = nullptr,
                          QWidget* parent = nullptr);

    // False when the account's Account.inf could not be read (the fields are then empty).
    bool Loaded() const { return loaded_; }
    // The name shown after OK (the new name, also while its rename waits).
    const std::string& NewName() const { return newName_; }
    // The Rename result of the last OK (CAccountManager::kRenamedNow ...), or nothing when
    // the name was not changed.
    std::optional<int> RenameResult() const { return renameResult_; }

    // The access password OK will store (set by the access-password button).
    void SetAccessPassword(const std::string& text) { access_ = text; }

    QLineEdit* NameEdit() const { return name_; }
    QLineEdit* ServerEdit() const { return server_; }
    QComboBox* ServerList() const { return serverList_; }
    QLineEdit* PortEdit() const { return port_; }
    QComboBox* SecurityList() const { return security_; }
    // POP3 and IMAP4 accounts only (null otherwise).
    PlainPasswordWarning* PlainWarning() const { return plainWarning_; }
    QLineEdit* UserEdit() const { return user_; }
    QLineEdit* PasswordEdit() const { return password_; }
    QCheckBox* PeriodCheck() const { return periodCheck_; }
    QSpinBox* Period() const { return period_; }
    QCheckBox* DailyCheck() const { return dailyCheck_; }
    QTimeEdit* DailyTime() const { return time_; }
    QSpinBox* Preview() const { return preview_; }
    // POP3 and IMAP4 accounts only (null otherwise); greyed out for POP3, which has neither
    // push nor read state on the server.
    QCheckBox* PushBox() const { return push_; }
    QCheckBox* MarkReadBox() const { return markRead_; }
    // POP3 and IMAP4 accounts only (null otherwise).
    CertificatePinField* PinField() const { return pinField_; }

public slots:
    void accept() override;
    void EditAccessPassword();

private:
    AccountRecord Edited() const;
    void Fail(const std::string& why);

    CAccountManager* table_;
    std::string account_; // the name shown when the dialog opened
    std::string folder_;  // its folder (the old side of a pending rename)
    AccountRecord record_;
    std::string access_;
    std::string newName_;
    std::optional<int> renameResult_;
    bool loaded_ = false;
    bool mail_ = false; // POP3 or IMAP4

    QLineEdit* name_;
    QLineEdit* server_ = nullptr;
    QComboBox* serverList_ = nullptr;
    QLineEdit* port_ = nullptr;
    QComboBox* security_ = nullptr;
    PlainPasswordWarning* plainWarning_ = nullptr;
    QLineEdit* user_;
    QLineEdit* password_;
    QCheckBox* periodCheck_;
    QSpinBox* period_;
    QCheckBox* dailyCheck_;
    QCheckBox* push_ = nullptr;
    QCheckBox* markRead_ = nullptr;
    CertificatePinField* pinField_ = nullptr;
    QTimeEdit* time_;
    QSpinBox* preview_;
};
