#pragma once

#include <memory>

class AccountPlugins;
class CAccountManager;
class CMainFrame;

// Opens the dialogs the main window and its account tree ask for: the new-account wizard,
// the settings, the filter rules, the access-password prompt and editor, and the account
// properties; and hands their results back to the window. `plugins` fill the wizard's and
// the properties dialog's category and profile lists and decide whether the settings offer
// the Exchange page (nullptr: the defaults, no provider). UI thread only; `frame` and
// `accounts` must outlive the connections.
void ConnectDesktopDialogs(CMainFrame& frame, CAccountManager& accounts,
                           std::shared_ptr<const AccountPlugins> plugins = nullptr);
