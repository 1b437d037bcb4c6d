#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

// What one POP3 or IMAP4 check of an account needs. The engine fills it from the account's
// Account.inf and UID.inf; tests and the connection tester fill it by hand.
struct CheckRequest {
    std::string server;
    int port = 0;
    std::string security; // "None", "STARTTLS", "TLS" or empty (the protocol's default)
    std::string userName;
    std::string password; // plain text; with `saslMechanism`, the OAuth 2.0 access token
    // Empty: log in with the password. "XOAUTH2" or "OAUTHBEARER": log in with SASL carrying
    // `password` as a bearer token (POP3 AUTH, IMAP AUTHENTICATE; bearersasl.h).
    std::string saslMechanism;
    // The SHA-256 of the one server certificate the account trusts (certificatepin.h), or
    // empty: the trust store decides (mailsocket.h).
    std::string pin;
    // The identifiers already stored (a hash set: a server list of many thousand messages is
    // matched against as many known identifiers in linear time).
    std::unordered_set<std::string> knownUids;
    // IMAP4: the identifiers of the messages stored here, and of those the ones marked read
    // here. The check reports stored messages the server no longer has or has marked \Seen
    // (CheckSink::ServerState); with `markReadOnServer` it sets \Seen on the server for
    // messages read here.
    std::unordered_set<std::string> storedUids;
    std::unordered_set<std::string> readUids;
    bool markReadOnServer = false;
    std::string account; // the account name, copied into every record
    int timeOutSeconds = 0;
    // POP3: body lines fetched with each header; IMAP4: kilobytes of body text (account key
    // "Priview="; 0 or negative: the header only).
    int preview = 0;
    // "Only mail that arrives from now on": when set, the check fetches no message and hands
    // nothing to the sink. It calls this once, on the check's thread, with the identifiers of
    // the messages on the server that `knownUids` lacks (in the server's order), and ends
    // done with no new message. An empty mailbox may end the check without the call.
    std::function<void(std::vector<std::string> existing)> recordExisting;
    // IMAP4: the INBOX's UIDVALIDITY (RFC 3501 section 2.3.1.1) at the account's last check;
    // 0 when not known. When SELECT gives another one, the mailbox was renumbered and the
    // known and stored UIDs name other messages now: the check then follows no read state,
    // fetches nothing and hands every UID on the server, known or not, to `recordRenumbered`,
    // whose list replaces the known one. Without `recordRenumbered` the unknown UIDs go to
    // `recordExisting` when it is set, else nowhere. An empty mailbox may end the check
    // without the call.
    uint32_t uidValidity = 0;
    std::function<void(std::vector<std::string> existing)> recordRenumbered;
    // IMAP4: called with SELECT's UIDVALIDITY as soon as SELECT was answered; not called when
    // the server gave none. The caller keeps it only once the check is done (and what went to
    // `recordRenumbered` is recorded): a check that fails leaves the next to find it again.
    std::function<void(uint32_t validity)> uidValidityFound;
};
