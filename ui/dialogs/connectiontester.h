#pragma once

#include "peercertificate.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <string>
#include <thread>

// One trial check of a POP3 or IMAP4 server with the values typed into the wizard, on a
// thread of its own so the dialog stays responsive. Nothing is stored and nothing fetched:
// the client logs in and lists the mailbox (UIDL, or UID SEARCH ALL on INBOX), and the
// identifiers are only counted, so a mailbox of many thousand messages is tested as quickly
// as an empty one. No filter rule runs and there is no account folder involved.
//
// Start() returns false while a trial is still running. Finished(ok, text) is emitted on
// the object's (user-interface) thread; `text` is for the user. The destructor waits for a
// running trial, which the time-out below bounds.
class CConnectionTester : public QObject
{
    Q_OBJECT

public:
    struct Target {
        std::string kind; // "POP3" or "IMAP4"
        std::string server;
        int port = 0;
        std::string security;
        std::string userName;
        std::string password; // with `saslMechanism`, an OAuth 2.0 access token
        // The fingerprint of the one certificate the account trusts, or empty.
        std::string pin = {};
        std::string saslMechanism = {}; // empty: the password
    };

    explicit CConnectionTester(QObject* parent = nullptr);
    ~CConnectionTester() override;

    bool Start(const Target& target);
    bool Running() const { return running_; }
    // The last finished trial found an IMAP server that lists IDLE (RFC 2177) among its
    // capabilities. Read on the user-interface thread after Finished.
    bool OfferedIdle() const { return offeredIdle_; }
    // The number of messages the last finished trial counted on the server; -1 before the
    // first trial and after a failed one. Read on the user-interface thread after Finished.
    int MessageCount() const { return messageCount_; }
    // The server certificate the last finished trial refused (not trusted, or not the one
    // the target trusts: `changed`), for an offer to trust it; empty when the trial failed
    // for another reason or passed. Read on the user-interface thread after Finished.
    const PeerCertificate& RefusedCertificate() const { return refused_; }

    static constexpr int kTimeoutSeconds = 20;

signals:
    void Finished(bool ok, const QString& text);

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> offeredIdle_{false};
    std::atomic<int> messageCount_{-1};
    PeerCertificate refused_; // user-interface thread only
};
