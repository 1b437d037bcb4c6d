#pragma once

#include <string>
#include <vector>

// What the tray icon's context menu needs to know about the accounts when it opens.
struct TrayMenuState {
    struct Account {
        std::string name;
        bool exchange = false; // an "Exchange(MAPI)" account
        bool busy = false;     // being checked now
    };
    std::vector<Account> accounts; // in account-list order
    std::string selectedAccount;   // the account selected in the tree, "" for none
    bool exchangeLoggedOn = false;
};

// The main window's side of the tray icon: the icon turns clicks and menu choices into these
// calls. Called on the GUI thread.
class TrayCommands
{
public:
    virtual ~TrayCommands() = default;
    // Runs the main window's command `commandId` (32771 restore, 32809 check the selected
    // account, 57665 exit ... 57664 the About box).
    virtual void RunCommand(unsigned commandId) = 0;
    // Selects `account` in the account tree, which makes it the selected account.
    virtual void SelectAccount(const std::string& account) = 0;
    // Brings the main window to the front (a double click, or before a menu).
    virtual void BringToFront() = 0;
    // The accounts and the Exchange state, read each time the context menu opens.
    virtual TrayMenuState MenuState() const = 0;
};
