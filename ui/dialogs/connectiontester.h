#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <string>
#include <thread>

// One trial check of a POP3 or IMAP4 server with the values typed into the wizard, on a
// thread of its own so the dialog stays responsive. Nothing is stored: the messages the
// client hands over are only counted, no filter rule runs (nothing can be deleted on the
// server) and there is no account folder involved.
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
        std::string password;
    };

    explicit CConnectionTester(QObject* parent = nullptr);
    ~CConnectionTester() override;

    bool Start(const Target& target);
    bool Running() const { return running_; }
    // The last finished trial found an IMAP server that lists IDLE (RFC 2177) among its
    // capabilities. Read on the user-interface thread after Finished.
    bool OfferedIdle() const { return offeredIdle_; }

    static constexpr int kTimeoutSeconds = 20;

signals:
    void Finished(bool ok, const QString& text);

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> offeredIdle_{false};
};
