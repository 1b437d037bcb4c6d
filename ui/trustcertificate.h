#pragma once

#include <string>

class CAccountManager;

// Makes the account `account` trust the server certificate whose SHA-256 is `pin`
// (certificatepin.h) from now on, through CAccountEditor like any other edit: its Account.inf
// gets the "Pin=" line, the rest stays as it is. Empty on success, else why not, for the user.
// Threads: the user-interface thread (the one that edits accounts).
std::string TrustAccountCertificate(CAccountManager& table, const std::string& account,
                                    const std::string& pin);
