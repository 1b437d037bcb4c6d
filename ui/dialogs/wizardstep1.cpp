#include "wizardstep1.h"

#include "accountkindtext.h"
#include "accountmanager.h"
#include "dialogtext.h"
#include "emailaddress.h"
#include "settingslookup.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

const char* const CWizardStep1::kKinds[4] = {"POP3", "IMAP4", "Portalpost", "Exchange(MAPI)"};

CWizardStep1::CWizardStep1(CAccountManager* table, QWidget* parent)
    : QWizardPage(parent), table_(table)
{
    auto* intro = new QLabel(DlgText::Text(DlgText::kWizardIntro), this);
    intro->setWordWrap(true);
    name_ = new QLineEdit(this);
    // Account.cfg keeps at most 60 bytes of a name.
    name_->setMaxLength(60);
    kind_ = new QComboBox(this);
    // The list shows the user's words and keeps each kind's stored literal as the item's data.
    for (const char* kind : kKinds)
        kind_->addItem(AccountKindText(kind), QString::fromLatin1(kind));
    kind_->setCurrentIndex(0);
    import_ = new QPushButton(DlgText::Text(DlgText::kImport), this);
    connect(import_, &QPushButton::clicked, this, &CWizardStep1::Import);
    address_ = new QLineEdit(this);
    address_->setMaxLength(254);
    lookupStatus_ = new QLabel(this);
    lookupStatus_->setWordWrap(true);
    lookupStatus_->setTextFormat(Qt::PlainText);
    lookupDelay_ = new QTimer(this);
    lookupDelay_->setSingleShot(true);
    lookupDelay_->setInterval(kLookupDelayMs);
    lookup_ = new CSettingsLookup(this);
    connect(address_, &QLineEdit::textChanged, lookupDelay_, qOverload<>(&QTimer::start));
    connect(lookupDelay_, &QTimer::timeout, this, &CWizardStep1::StartLookup);
    // `activated` comes from the user only, never from setCurrentIndex.
    connect(kind_, &QComboBox::activated, this, [this] { kindChosen_ = true; });
    connect(lookup_, &CSettingsLookup::Finished, this, [this] {
        const QString domain = DomainOf(lookup_->Address());
        const auto& servers = lookup_->Servers();
        ShowLookupStatus(DlgText::Fill(
            DlgText::Text(servers.empty() ? DlgText::kLookupNothing : DlgText::kLookupFound),
            domain));
        if (!servers.empty() && !kindChosen_ && !imported_) {
            const int index = kind_->findData(QString::fromStdString(servers.front().kind));
            if (index >= 0)
                kind_->setCurrentIndex(index);
        }
        emit SettingsFound();
    });

    form_ = new QFormLayout;
    QFormLayout* form = form_;
    form->addRow(DlgText::Text(DlgText::kAccountName), name_);
    form->addRow(DlgText::Text(DlgText::kEmailAddress), address_);
    form->addRow(static_cast<QWidget*>(nullptr), lookupStatus_);
    // The status row takes no room until there is something to say.
    form->setRowVisible(lookupStatus_, false);
    form->addRow(DlgText::Text(DlgText::kKind), kind_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(import_, 0, Qt::AlignLeft);
    layout->addStretch();
    setTabOrder(name_, address_);
    setTabOrder(address_, kind_);
    setTabOrder(kind_, import_);
}

std::string CWizardStep1::Name() const
{
    // An imported name is shown in the (disabled) box, so the box always holds the name.
    return name_->text().toStdString();
}

std::string CWizardStep1::Kind() const
{
    return imported_ ? imported_->kind : std::string(kKinds[kind_->currentIndex()]);
}

void CWizardStep1::ShowLookupStatus(const QString& text)
{
    lookupStatus_->setText(text);
    form_->setRowVisible(lookupStatus_, !text.isEmpty());
}

QString CWizardStep1::DomainOf(const QString& address)
{
    const std::optional<EmailAddress> parsed = EmailAddress::Parse(address.toStdString());
    return parsed ? QString::fromStdString(parsed->domain) : QString();
}

std::string CWizardStep1::Address() const
{
    return address_->text().trimmed().toStdString();
}

std::optional<DiscoveredServer> CWizardStep1::Found(const std::string& kind) const
{
    if (!lookup_->HasResultFor(QString::fromStdString(Address())))
        return std::nullopt;
    for (const DiscoveredServer& server : lookup_->Servers())
        if (server.kind == kind)
            return server;
    return std::nullopt;
}

void CWizardStep1::StartLookup()
{
    lookupDelay_->stop();
    const QString address = QString::fromStdString(Address());
    if (lookup_->HasResultFor(address) || (lookup_->Running() && lookup_->Address() == address))
        return;
    if (!EmailAddress::Parse(Address())) {
        lookup_->Cancel();
        ShowLookupStatus(QString());
        return;
    }
    ShowLookupStatus(DlgText::Fill(DlgText::Text(DlgText::kLookupRunning), DomainOf(address)));
    lookup_->Start(address);
}

void CWizardStep1::Import()
{
    std::optional<ImportedAccount> chosen = importer_ ? importer_(this) : std::nullopt;
    if (!imported_) {
        typedName_ = name_->text();
        typedKind_ = kind_->currentIndex();
    }
    if (chosen) {
        imported_ = std::move(chosen);
        name_->setText(QString::fromStdString(imported_->name));
        const int index = kind_->findData(QString::fromStdString(imported_->kind));
        kind_->setCurrentIndex(index < 0 ? 0 : index);
        if (index < 0)
            imported_->kind = kKinds[0];
    } else {
        imported_.reset();
        name_->setText(typedName_);
        kind_->setCurrentIndex(typedKind_);
    }
    name_->setEnabled(!imported_);
    kind_->setEnabled(!imported_);
}

bool CWizardStep1::validatePage()
{
    std::string name = Name();
    if (!table_ || table_->NameInUse(name, this, nullptr, 1)) {
        // The name check may have trimmed or emptied the entry: show what it left. An
        // imported name that is refused (taken, or holding a character a folder name cannot
        // have) becomes editable, or the user could never get past this page.
        name_->setText(QString::fromStdString(name));
        name_->setEnabled(true);
        name_->setFocus();
        return false;
    }
    name_->setText(QString::fromStdString(name));
    if (imported_)
        imported_->name = name;
    // An address typed just before Next is looked up while the next page is shown.
    if (!imported_)
        StartLookup();
    return true;
}
