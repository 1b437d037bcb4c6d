#include "accountpropertiesdlg.h"

#include "accounteditor.h"
#include "accountfile.h"
#include "accountkindtext.h"
#include "accountmanager.h"
#include "accountnames.h"
#include "accountsecret.h"
#include "apppaths.h"
#include "certificatepinfield.h"
#include "dialogtext.h"
#include "dialoguebox.h"
#include "leadingdecimal.h"
#include "plainpasswordwarning.h"
#include "regsettings.h"
#include "resourcelibrary.h"
#include "setaccesspassworddlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace
{

constexpr unsigned kCaption = 61410; // "Properties"
// The security list: stored words in list order; "" (no choice stored) only when the file
// has none, so opening and closing the dialog does not add a line.
const char* const kSecurityWords[4] = {"TLS", "STARTTLS", "None", ""};
constexpr int kSecurityNoneRow = 2;

int DailyMinutes(const std::string& text)
{
    const std::string last = text.size() >= 2 ? text.substr(text.size() - 2) : text;
    return LeadingDecimal(text.substr(0, 2)) * 60 + LeadingDecimal(last);
}

} // namespace

CAccountPropertiesDlg::CAccountPropertiesDlg(CAccountManager* table, const std::string& account,
                                             std::shared_ptr<const AccountPlugins> plugins,
                                             QWidget* parent)
    : QDialog(parent), table_(table), account_(account), newName_(account)
{
    if (!plugins)
        plugins = std::make_shared<AccountPlugins>();
    folder_ = table_ ? table_->TranslateName(account, 0) : account;
    loaded_ = CAccountFile::ReadAccountFile(AppPaths::AccountFile(folder_), record_) == 1;
    // A password in the keyring is shown as any other; when the keyring does not give it
    // (locked, gone) the field stays empty, and an empty field leaves it where it is.
    record_.name = folder_;
    AccountSecret::Resolve(record_, SystemKeyring::Prompt::Never, SystemKeyring::kQuickLimit);
    record_.name = account;
    if (table_) {
        for (const AccountEntry& row : table_->Snapshot())
            if (row.name == folder_)
                access_ = row.accessPassword;
    }
    mail_ = record_.mailType == kMailTypePop3 || record_.mailType == kMailTypeImap4;
    setWindowTitle(
        DlgText::Fill(DlgText::Text(DlgText::kPropertiesCaption), QString::fromStdString(account)));

    auto* form = new QFormLayout;
    int warningRow = -1; // under the security field, once the password field exists
    name_ = new QLineEdit(QString::fromStdString(account), this);
    name_->setMaxLength(60);
    form->addRow(DlgText::Text(DlgText::kAccountName), name_);
    auto* kind = new QLabel(AccountKindText(record_.mailType), this);
    kind->setTextFormat(Qt::PlainText);
    form->addRow(DlgText::Text(DlgText::kKind), kind);
    if (mail_ || record_.mailType.empty()) {
        server_ = new QLineEdit(QString::fromStdString(record_.server), this);
        form->addRow(DlgText::Text(DlgText::kServer), server_);
        security_ = new QComboBox(this);
        security_->addItem(DlgText::Text(DlgText::kSecurityTls));
        security_->addItem(DlgText::Text(DlgText::kSecurityStartTls));
        security_->addItem(DlgText::Text(DlgText::kSecurityNone));
        if (record_.security.empty())
            security_->addItem(DlgText::Text(DlgText::kSecurityDefault));
        for (int i = 0; i < security_->count(); ++i)
            if (record_.security == kSecurityWords[i])
                security_->setCurrentIndex(i);
        form->addRow(DlgText::Text(DlgText::kSecurity), security_);
        warningRow = form->rowCount();
        port_ = new QLineEdit(QString::fromStdString(record_.port), this);
        port_->setValidator(new QIntValidator(1, 65535, port_));
        port_->setMaxLength(5);
        form->addRow(DlgText::Text(DlgText::kPort), port_);
    } else {
        const bool exchange = record_.mailType == kMailTypeExchange;
        serverList_ = new QComboBox(this);
        const std::vector<std::string> choices =
            exchange ? (plugins->MapiPresent() ? plugins->Profiles() : std::vector<std::string>())
                     : plugins->PortalpostCategories();
        for (const std::string& c : choices)
            serverList_->addItem(QString::fromStdString(c));
        // The stored choice stays selectable even when the plug-in no longer offers it.
        if (serverList_->findText(QString::fromStdString(record_.server), Qt::MatchExactly) < 0)
            serverList_->addItem(QString::fromStdString(record_.server));
        serverList_->setCurrentIndex(
            serverList_->findText(QString::fromStdString(record_.server), Qt::MatchExactly));
        form->addRow(DlgText::Text(exchange ? DlgText::kProfile : DlgText::kCategory), serverList_);
    }
    user_ = new QLineEdit(QString::fromStdString(record_.userName), this);
    form->addRow(DlgText::Text(DlgText::kUser), user_);
    // An OAuth 2.0 account's password slot holds its refresh token: never shown, never cut to
    // a password's length, kept as it is.
    const bool oauth = UsesOAuthSignIn(record_);
    password_ = new QLineEdit(oauth ? QString() : QString::fromStdString(record_.password), this);
    password_->setEchoMode(QLineEdit::Password);
    password_->setMaxLength(60);
    if (oauth) {
        password_->setEnabled(false);
        password_->setPlaceholderText(DlgText::Text(DlgText::kSignedInWithOAuth));
    }
    form->addRow(DlgText::Text(DlgText::kPassword), password_);
    if (security_) {
        plainWarning_ = new PlainPasswordWarning(security_, kSecurityNoneRow, password_, this);
        form->insertRow(warningRow, static_cast<QWidget*>(nullptr), plainWarning_);
    }
    if (record_.mailType == kMailTypeExchange) {
        user_->setEnabled(false);
        password_->setEnabled(false);
    }

    periodCheck_ = new QCheckBox(DlgText::Text(DlgText::kPeriodCheck), this);
    periodCheck_->setChecked(record_.periodCheck == "Yes");
    period_ = new QSpinBox(this);
    period_->setRange(1, 99999);
    period_->setValue(std::max(1, LeadingDecimal(record_.period)));
    auto* periodRow = new QHBoxLayout;
    periodRow->addWidget(periodCheck_);
    periodRow->addWidget(period_);
    periodRow->addStretch();
    form->addRow(periodRow);
    dailyCheck_ = new QCheckBox(DlgText::Text(DlgText::kDailyCheck), this);
    dailyCheck_->setChecked(record_.specifiedTimeCheck == "Yes");
    time_ = new QTimeEdit(this);
    time_->setDisplayFormat(QStringLiteral("HH:mm"));
    const int minutes = DailyMinutes(record_.specifiedTime) % (24 * 60);
    time_->setTime(QTime(minutes / 60, minutes % 60));
    auto* dailyRow = new QHBoxLayout;
    dailyRow->addWidget(dailyCheck_);
    dailyRow->addWidget(time_);
    dailyRow->addStretch();
    form->addRow(dailyRow);
    preview_ = new QSpinBox(this);
    preview_->setRange(0, 9999);
    preview_->setValue(LeadingDecimal(record_.priview));
    form->addRow(DlgText::Text(DlgText::kPreview), preview_);
    if (mail_) {
        const bool imap = record_.mailType == kMailTypeImap4;
        push_ = new QCheckBox(DlgText::Text(DlgText::kPushSwitch), this);
        push_->setChecked(imap && record_.push == "Yes");
        push_->setEnabled(imap);
        markRead_ = new QCheckBox(DlgText::Text(DlgText::kMarkReadOnServer), this);
        markRead_->setChecked(imap && record_.markReadOnServer == "Yes");
        markRead_->setEnabled(imap);
        form->addRow(push_);
        form->addRow(markRead_);
        pinField_ = new CertificatePinField(
            record_.pin,
            [this] {
                return CConnectionTester::Target{
                    record_.mailType,
                    server_->text().trimmed().toStdString(),
                    port_->text().toInt(),
                    kSecurityWords[std::max(0, security_->currentIndex())],
                    user_->text().toStdString(),
                    password_->text().toStdString(),
                    {}};
            },
            this);
        form->addRow(DlgText::Text(DlgText::kTrustedCertificate), pinField_);
    }
    connect(periodCheck_, &QCheckBox::toggled, period_, &QWidget::setEnabled);
    connect(dailyCheck_, &QCheckBox::toggled, time_, &QWidget::setEnabled);
    period_->setEnabled(periodCheck_->isChecked());
    time_->setEnabled(dailyCheck_->isChecked());

    auto* accessButton = new QPushButton(DlgText::Text(DlgText::kAccessPassword), this);
    connect(accessButton, &QPushButton::clicked, this, &CAccountPropertiesDlg::EditAccessPassword);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAccountPropertiesDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(accessButton, 0, Qt::AlignLeft);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CAccountPropertiesDlg::EditAccessPassword()
{
    CSetAccessPasswordDlg dlg(QString::fromStdString(account_), this);
    if (dlg.exec() == QDialog::Accepted)
        access_ = dlg.Password();
}

AccountRecord CAccountPropertiesDlg::Edited() const
{
    AccountRecord r = record_;
    r.name = name_->text().toStdString();
    if (server_)
        r.server = server_->text().trimmed().toStdString();
    if (serverList_)
        r.server = serverList_->currentText().toStdString();
    if (port_)
        r.port = port_->text().toStdString();
    if (security_)
        r.security = kSecurityWords[std::max(0, security_->currentIndex())];
    r.userName = user_->text().toStdString();
    r.password = UsesOAuthSignIn(record_) ? record_.password : password_->text().toStdString();
    {
        CRegSettings settings;
        r.secret = AccountSecret::Placement(r, settings.LoadGeneral() == 1 &&
                                                   settings.general.keepPasswordsInKeyring.Get());
    }
    r.periodCheck = periodCheck_->isChecked()
                        ? "Yes"
                        : (record_.periodCheck == "Yes" ? "No" : record_.periodCheck);
    // Untouched numbers keep their stored text ("015" stays "015").
    if (period_->value() != std::max(1, LeadingDecimal(record_.period)))
        r.period = std::to_string(period_->value());
    const int minutes = time_->time().hour() * 60 + time_->time().minute();
    if (minutes != DailyMinutes(record_.specifiedTime) % (24 * 60))
        r.specifiedTime = time_->time().toString(QStringLiteral("HH:mm")).toStdString();
    r.specifiedTimeCheck =
        dailyCheck_->isChecked()
            ? "Yes"
            : (record_.specifiedTimeCheck == "Yes" ? "No" : record_.specifiedTimeCheck);
    if (preview_->value() != LeadingDecimal(record_.priview))
        r.priview = std::to_string(preview_->value());
    if (push_ && push_->isEnabled())
        r.push = push_->isChecked() ? "Yes" : "";
    if (markRead_ && markRead_->isEnabled())
        r.markReadOnServer = markRead_->isChecked() ? "Yes" : "";
    if (pinField_)
        r.pin = pinField_->Pin();
    return r;
}

void CAccountPropertiesDlg::Fail(const std::string& why)
{
    DialogueBox(DlgText::Fill(DlgText::Text(DlgText::kApplyFailed), QString::fromStdString(why))
                    .toStdString(),
                DlgText::Text(kCaption).toStdString(), this, kDialogueOk, kDialogueIconExclamation);
}

void CAccountPropertiesDlg::accept()
{
    using Category = AccountEditResult::Category;
    if (!table_)
        return;
    const AccountEditResult result =
        CAccountEditor(*table_).ApplyProperties(account_, Edited(), &access_);
    if (result.name != account_) {
        // Applied under the new name, or a failure that had to leave the account there: the
        // dialog follows the account, so OK can be tried again.
        account_ = result.name;
        folder_ = table_->TranslateName(account_, 0);
        newName_ = account_;
        if (result.rename != CAccountManager::kRenameNothing)
            renameResult_ = result.rename;
    }
    if (!result.Ok()) {
        switch (result.category) {
        case Category::InvalidName:
            name_->clear();
            [[fallthrough]];
        case Category::BlankName:
        case Category::NameTaken:
            DialogueBox(result.message, LoadResourceString(AccountNames::kCaption), this,
                        kDialogueOk,
                        result.category == Category::InvalidName ? kDialogueIconStop
                                                                 : kDialogueIconExclamation);
            name_->setFocus();
            break;
        default:
            Fail(result.message);
            break;
        }
        return;
    }
    renameResult_.reset();
    if (result.rename != CAccountManager::kRenameNothing)
        renameResult_ = result.rename;
    record_ = Edited();
    record_.name = result.name;
    name_->setText(QString::fromStdString(result.name));
    QDialog::accept();
}
