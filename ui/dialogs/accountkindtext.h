#pragma once

#include <QString>
#include <string>

// The words a user reads for an account kind. Account.inf, Account.cfg, the command line's
// --kind and --list-accounts keep the stored literals ("POP3", "IMAP4", "Portalpost",
// "Exchange(MAPI)"); every place the desktop shows a kind (the wizard's kind list and page
// titles, the properties dialog, the import list) shows this text instead: "POP3", "IMAP",
// "Web mail", "Local mailbox (Maildir)" (texts 40108-40111).
//
// `mailType` is compared exactly, as the account loader compares it. A literal that is no
// kind (a damaged or foreign Account.inf), or one whose text the bundle lacks, is shown as
// written, so the user still sees what the file says.
// Threads: any (reads the loaded bundle).
QString AccountKindText(const std::string& mailType);
