#pragma once

#include "accountplugins.h"
#include "wizardstep1.h"

#include <QWizard>
#include <functional>
#include <memory>
#include <string>

class CAccountManager;
class CWizardStep2Exchange;
class CWizardStep2IMAP4;
class CWizardStep2POP3;
class CWizardStep2Portalpost;
class CWizardStep3Finish;

// The new account wizard (caption 61396): step 1 name and kind, step 2 the kind's page,
// step 3 the schedule and, for POP3/IMAP4, whether the mail already on the server is shown
// (its default follows the count of step 2's connection test). Back keeps what was typed;
// the step-2 checks run only on Next. Finish creates the account (folder, Account.inf with
// the kind's defaults and the chosen schedule, the FromNow marker when asked, Account.cfg,
// the table) and, for the first Exchange account, makes it the "DefaultExchange" of the
// General settings; a failure is shown and the wizard stays open. The e-mail address of step 1
// fills the step-2 server page from a settings look-up; Back to step 1 and Cancel stop a
// look-up still running.
//
//     CAccountWizard wizard(&table, plugins, this);
//     wizard.SetImporter(...);                 // default: RunImportDialog
//     if (wizard.exec() == QDialog::Accepted)  // Finish: the account exists
//         tree.AddAccount(wizard.CreatedName());
//
// `table` is not owned and must outlive the wizard; `plugins` nullptr = the default answers
// (no Exchange provider). Threads: the user-interface thread.
class CAccountWizard : public QWizard
{
    Q_OBJECT

public:
    enum PageId { kStep1, kStepPop3, kStepImap4, kStepPortalpost, kStepExchange, kStep3 };

    CAccountWizard(CAccountManager* table, std::shared_ptr<const AccountPlugins> plugins,
                   QWidget* parent = nullptr);

    void SetImporter(CWizardStep1::Importer importer);
    // Called with the help topic (text 61383) when Help is pressed.
    void SetHelpOpener(std::function<void(const std::string& topic)> opener);

    // The name of the account Finish created; empty before.
    const std::string& CreatedName() const { return created_; }

    CWizardStep1* Step1() const { return step1_; }
    CWizardStep2POP3* Pop3Page() const { return pop3_; }
    CWizardStep2IMAP4* Imap4Page() const { return imap4_; }
    CWizardStep2Portalpost* PortalpostPage() const { return portalpost_; }
    CWizardStep2Exchange* ExchangePage() const { return exchange_; }
    CWizardStep3Finish* FinishPage() const { return step3_; }

    int nextId() const override;
    void initializePage(int id) override;

public slots:
    void accept() override;
    void reject() override;

private:
    // Gives the POP3/IMAP4 page the server step 1's look-up found for its kind, and shows
    // how the look-up goes there.
    void OfferFound(int id);

    CAccountManager* table_;
    CWizardStep1* step1_;
    CWizardStep2POP3* pop3_;
    CWizardStep2IMAP4* imap4_;
    CWizardStep2Portalpost* portalpost_;
    CWizardStep2Exchange* exchange_;
    CWizardStep3Finish* step3_;
    std::function<void(const std::string&)> helpOpener_;
    std::string created_;
};
