#pragma once

#include <string>
#include <vector>

// Mail/<name>/FromNow: the user asked for "only mail that arrives from now on". The account's
// next POP3/IMAP4 check fetches no message: it lists the identifiers on the server, records
// them in UID.inf as seen and then removes the marker, so only later mail is ever reported.
// The marker stays until a check has recorded the identifiers: a first check that fails
// (no connection, log-in refused) leaves the request to the next one.
//
// The marker is a small text file written atomically (0600); only its presence counts. A
// crash after the identifiers were appended and before the marker went leaves it in place:
// the next check then records what arrived in between as seen too, and reports nothing twice.
//
// Callers hold the account's lock (CAccountLock) or, when creating the account, the
// Account.cfg writers' lock before the account is listed. Results: true on success, false
// with a readable reason in *error.
bool WriteFromNowMarker(const std::string& account, std::string* error = nullptr);
bool HasFromNowMarker(const std::string& account);
// Removes the marker (none is fine) and makes the removal durable.
bool RemoveFromNowMarker(const std::string& account, std::string* error = nullptr);
// Appends `existing` to the account's UID.inf (one write, flushed): the messages on the server
// are taken as seen.
bool RecordExistingUids(const std::string& account, const std::vector<std::string>& existing,
                        std::string* error = nullptr);
// The end of a from-now-on check: appends `existing` to the account's UID.inf (one write,
// flushed), then removes the marker. When the append fails the marker stays.
bool SettleFromNowMarker(const std::string& account, const std::vector<std::string>& existing,
                         std::string* error = nullptr);
