#pragma once

class CAccountManager;
class CMainFrame;

// Opens the dialogs the main window and its account tree ask for: the new-account wizard,
// the settings, the filter rules, the access-password prompt and editor, and the account
// properties; and hands their results back to the window. UI thread only; `frame` and
// `accounts` must outlive the connections.
void ConnectDesktopDialogs(CMainFrame& frame, CAccountManager& accounts);
