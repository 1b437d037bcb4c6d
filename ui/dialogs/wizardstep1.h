#pragma once

#include "importedaccount.h"

#include <QWizardPage>
#include <functional>
#include <optional>

class CAccountManager;
class QComboBox;
class QLineEdit;
class QPushButton;

// Step 1 of the new account wizard: the account's name (at most 60 characters), its kind
// ("POP3", "IMAP4", "Portalpost", "Exchange(MAPI)", always all four, in that order; the list
// shows AccountKindText and holds the literal as each item's data) and the import button. Next runs
// the account list's name check (which shows its own messages) and stays on the page when the name
// is refused.
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
    const std::optional<ImportedAccount>& Imported() const { return imported_; }

    QLineEdit* NameEdit() const { return name_; }
    QComboBox* KindList() const { return kind_; }
    QPushButton* ImportButton() const { return import_; }

    bool validatePage() override;

public slots:
    void Import();

private:
    CAccountManager* table_;
    QLineEdit* name_;
    QComboBox* kind_;
    QPushButton* import_;
    Importer importer_;
    std::optional<ImportedAccount> imported_;
    // What the user had typed before an import, restored when the import is dropped.
    QString typedName_;
    int typedKind_ = 0;
};
