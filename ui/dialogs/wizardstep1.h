#pragma once

#include "discoveredserver.h"
#include "importedaccount.h"

#include <QWizardPage>
#include <functional>
#include <optional>

class CAccountManager;
class CSettingsLookup;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// Step 1 of the new account wizard: the account's name (at most 60 characters), its kind
// ("POP3", "IMAP4", "Portalpost", "Exchange(MAPI)", always all four, in that order; the list
// shows AccountKindText and holds the literal as each item's data) and the import button. Next runs
// the account list's name check (which shows its own messages) and stays on the page when the name
// is refused.
//
// The optional e-mail address starts a look-up of the account's server settings
// (CSettingsLookup) once the user pauses typing (kLookupDelay), and again on Next when none
// was made for it; a line under it says how it went. When it finds servers, the kind list
// follows the preferred one unless the user chose a kind in the list. Found(kind) gives the
// step-2 page what to fill.
class CWizardStep1 : public QWizardPage
{
    Q_OBJECT

public:
    // What the import button asks: the chosen account, or nothing when the user cancelled.
    using Importer = std::function<std::optional<ImportedAccount>(QWidget* parent)>;

    CWizardStep1(CAccountManager* table, QWidget* parent = nullptr);

    void SetImporter(Importer importer) { importer_ = std::move(importer); }

    // The kinds' stored literals in list order.
    static const char* const kKinds[4];

    std::string Name() const;
    std::string Kind() const; // the stored literal
    std::string Address() const;
    // The domain of an e-mail address as it is looked up (lower case); empty for no address.
    static QString DomainOf(const QString& address);
    // The server the last finished look-up for the address now typed found for `kind`.
    std::optional<DiscoveredServer> Found(const std::string& kind) const;
    const std::optional<ImportedAccount>& Imported() const { return imported_; }

    QLineEdit* NameEdit() const { return name_; }
    QComboBox* KindList() const { return kind_; }
    QPushButton* ImportButton() const { return import_; }
    QLineEdit* AddressEdit() const { return address_; }
    QLabel* LookupStatus() const { return lookupStatus_; }
    CSettingsLookup* Lookup() const { return lookup_; }

    static constexpr int kLookupDelayMs = 600;

    bool validatePage() override;

signals:
    // A look-up finished for the address now typed (with or without servers).
    void SettingsFound();

public slots:
    void Import();
    // Starts a look-up for the typed address unless one ran or runs for it already.
    void StartLookup();

private:
    void ShowLookupStatus(const QString& text);

    CAccountManager* table_;
    QFormLayout* form_;
    QLineEdit* name_;
    QComboBox* kind_;
    QPushButton* import_;
    QLineEdit* address_;
    QLabel* lookupStatus_;
    QTimer* lookupDelay_;
    CSettingsLookup* lookup_;
    bool kindChosen_ = false; // the user picked a kind in the list
    Importer importer_;
    std::optional<ImportedAccount> imported_;
    // What the user had typed before an import, restored when the import is dropped.
    QString typedName_;
    int typedKind_ = 0;
};
