#include "desktopdialogs.h"

#include "accesspassworddlg.h"
#include "accounteditor.h"
#include "accountlist.h"
#include "accountmanager.h"
#include "accountplugins.h"
#include "accountpropertiesdlg.h"
#include "accountwizard.h"
#include "apppaths.h"
#include "dialoguebox.h"
#include "filtermanagerdlg.h"
#include "leftview.h"
#include "mainframe.h"
#include "resourcelibrary.h"
#include "setaccesspassworddlg.h"
#include "settingsenvironment.h"
#include "sysconfigdlg.h"

namespace
{

// Caption of the access-password warnings.
constexpr unsigned kAccessPasswordCaption = 61363;

// The access-password editor: the table and Account.cfg change together, so the password
// asked for on the next check is the one the file keeps across restarts.
void EditAccessPassword(CMainFrame& frame, CAccountManager& accounts, const std::string& name)
{
    CSetAccessPasswordDlg dlg(QString::fromStdString(name), &frame);
    if (dlg.exec() != QDialog::Accepted)
        return;
    const std::string password = dlg.Password();
    CAccountList list(AppPaths::AccountListFile());
    if (list.Update(name, nullptr, &password, nullptr) != 1) {
        DialogueBox(list.Error(), LoadResourceString(kAccessPasswordCaption), &frame, kDialogueOk,
                    kDialogueIconExclamation);
        return;
    }
    // While a rename waits for a running check the table row still has the old name.
    accounts.SetAccessPassword(accounts.TranslateName(name, 0), password);
    frame.Tree()->AccessPasswordChanged(name);
}

} // namespace

void ConnectDesktopDialogs(CMainFrame& frame, CAccountManager& accounts,
                           std::shared_ptr<const AccountPlugins> plugins)
{
    if (!plugins)
        plugins = std::make_shared<AccountPlugins>();
    QObject::connect(&frame, &CMainFrame::newAccountRequested, &frame,
                     [&frame, &accounts, plugins] {
                         CAccountWizard wizard(&accounts, plugins, &frame);
                         wizard.SetHelpOpener(
                             [&frame](const std::string& topic) { frame.OpenHelpTopic(topic); });
                         if (wizard.exec() == QDialog::Accepted && !wizard.CreatedName().empty())
                             frame.AccountCreated(QString::fromStdString(wizard.CreatedName()));
                     });
    QObject::connect(&frame, &CMainFrame::settingsRequested, &frame, [&frame, &accounts, plugins] {
        // The Exchange page is offered only where the mailbox plug-in found a provider.
        SettingsEnvironment env =
            SettingsEnvironment::FromSystem(&accounts, plugins->MapiPresent() != 0);
        env.openHelp = [&frame](const std::string& topic) { frame.OpenHelpTopic(topic); };
        env.moveSecrets = [&accounts](bool toKeyring) {
            std::vector<std::string> failed;
            CAccountEditor editor(accounts);
            for (const AccountEntry& row : accounts.Snapshot()) {
                // The name the user sees (the new one while a rename waits).
                const std::string name = accounts.TranslateName(row.name, 1);
                const AccountEditResult r = editor.MoveSecret(name, toKeyring);
                if (!r.Ok())
                    failed.push_back(name + ": " + r.message);
            }
            return failed;
        };
        CSysConfigDlg dlg(std::move(env), &frame);
        dlg.exec();
    });
    QObject::connect(&frame, &CMainFrame::filterRulesRequested, &frame, [&frame] {
        CFilterManagerDlg dlg(&frame);
        dlg.exec();
    });

    CLeftView* tree = frame.Tree();
    tree->SetAccessPrompt([&frame, &accounts](const std::string& account) {
        CAccessPasswordDlg dlg(&accounts, QString::fromStdString(account), &frame);
        return dlg.exec() == QDialog::Accepted;
    });
    QObject::connect(tree, &CLeftView::accessPasswordDialogRequested, &frame,
                     [&frame, &accounts](const std::string& account) {
                         EditAccessPassword(frame, accounts, account);
                     });
    QObject::connect(tree, &CLeftView::propertiesDialogRequested, &frame,
                     [&frame, &accounts, tree, plugins](const std::string& account) {
                         CAccountPropertiesDlg dlg(&accounts, account, plugins, &frame);
                         if (dlg.exec() == QDialog::Accepted && dlg.NewName() != account)
                             tree->AccountRenamed(account, dlg.NewName());
                     });
}
