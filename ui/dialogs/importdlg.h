#pragma once

#include "importedaccount.h"
#include "thunderbirdprofiles.h"

#include <QDialog>
#include <optional>
#include <vector>

class QTreeWidget;

// The account import dialog: the other mail program's accounts in four columns (account,
// type, server, user name; titles 32893-32896), full-row selection, the first row chosen.
// The type column shows AccountKindText. A click chooses a row, a double click chooses it
// and acts as OK. OK with a row gives the chosen row's shown name, server and user name, its
// kind's stored literal, port and security; OK with an empty list and Cancel give
// nothing.
//
//     CImportDlg dlg(ThunderbirdProfiles::ReadAccounts(ThunderbirdProfiles::DefaultRoot()), this);
//     if (dlg.exec() == QDialog::Accepted && dlg.Chosen()) ...
//
// RunImportDialog() does exactly that and suits CAccountWizard::SetImporter.
// Threads: the user-interface thread.
class CImportDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CImportDlg(std::vector<ForeignMailAccount> accounts, QWidget* parent = nullptr);

    const std::optional<ImportedAccount>& Chosen() const { return chosen_; }
    QTreeWidget* List() const { return list_; }

    // The display rules of the server and user-name columns: a web-mail server naming one
    // of the two providers shows the provider, a web-mail user name shows its part before
    // the first "@"; everything else shows unchanged.
    static std::string ShownServer(const std::string& kind, const std::string& server);
    static std::string ShownUser(const std::string& kind, const std::string& user);

public slots:
    void accept() override;

private:
    std::vector<ForeignMailAccount> accounts_;
    QTreeWidget* list_;
    std::optional<ImportedAccount> chosen_;
};

// Shows the import dialog over the user's Thunderbird accounts; the chosen account or nothing.
std::optional<ImportedAccount> RunImportDialog(QWidget* parent);
