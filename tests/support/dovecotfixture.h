#pragma once

#include "testpki.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class TempDir;

// A private Dovecot for integration tests: its own configuration, state, log and maildirs in
// a temporary folder, listening on 127.0.0.1 on four free high ports (POP3 and IMAP in plain
// text offering STLS / STARTTLS, POP3S and IMAPS), with a certificate for localhost and
// 127.0.0.1 signed by a test CA that the fixture makes. It never reads /etc/dovecot.
//
// As root, Dovecot's processes and the mail files belong to the "dovecot" account (or
// "nobody"); as a normal user, to that user.
//
// Start() costs about half a second: share one fixture per test binary (DovecotEnvironment).
// Not thread-safe; Deliver and ClearMailbox run on the test's thread between sessions.
class DovecotFixture
{
public:
    struct User {
        std::string name;
        std::string password;
    };

    DovecotFixture();
    ~DovecotFixture(); // stops Dovecot by its process id and removes the folder
    DovecotFixture(const DovecotFixture&) = delete;
    DovecotFixture& operator=(const DovecotFixture&) = delete;

    // Before Start: also take OAuth 2.0 bearer tokens (XOAUTH2, OAUTHBEARER) through the
    // oauth2 passdb, which asks `introspectionUrl` about each token (RFC 7662, POST) and takes
    // its "username"; passwords keep working.
    void AcceptOAuthTokens(const std::string& introspectionUrl)
    {
        introspection_ = introspectionUrl;
    }

    // Writes the configuration and starts Dovecot; true once all four ports answer.
    // Error() says why not (dovecot missing, config rejected; the log is quoted).
    bool Start(const std::vector<User>& users = {{"alice", "alice-pass"}, {"bob", "bob pass"}});
    void Stop();
    // Stops Dovecot and starts it again on the same ports with the same users (a server
    // restart as clients see it); the mail stays.
    bool Restart();
    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }

    int Pop3Port() const { return ports_[0]; }
    int ImapPort() const { return ports_[1]; }
    int Pop3sPort() const { return ports_[2]; }
    int ImapsPort() const { return ports_[3]; }

    // The test CA; trust it with ScopedEnv("SSL_CERT_FILE", fixture.CaFile()).
    const std::string& CaFile() const { return caFile_; }
    TestPki& Pki() { return *pki_; }
    const std::string& Dir() const;
    std::string LogText() const;

    // Puts a message (raw bytes, CR LF line ends expected) into the user's INBOX, in "new"
    // or, when `seen`, in "cur" with the S flag. Each message gets a later time stamp in its
    // file name than the one before, so Dovecot gives out UIDs in delivery order.
    // Returns the file's path, or "" on failure.
    std::string Deliver(const std::string& user, const std::string& message, bool seen = false);
    // Removes every message and Dovecot's index of the user's INBOX.
    bool ClearMailbox(const std::string& user);
    // Makes Dovecot renumber the user's INBOX as it does after losing its UID list: the
    // messages stay, the next session sees a new UIDVALIDITY (always a larger one, even
    // within the same second) and UIDs from 1 again in delivery order.
    bool Renumber(const std::string& user);
    // Another mail client: one IMAP session as `user` on the plain port (LOGIN, SELECT INBOX,
    // then `commands` tagged T1, T2, ..., then LOGOUT). Returns everything the server said,
    // "" when no session could be had.
    std::string ImapSession(const std::string& user, const std::vector<std::string>& commands = {});
    std::string Maildir(const std::string& user) const;

private:
    bool WriteConfig(const std::vector<User>& users);
    bool WaitReady();
    bool MakeUserDirs(const std::string& user);
    void Own(const std::string& path) const;

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TestPki> pki_;
    std::string caFile_;
    std::string error_;
    pid_t pid_ = -1;
    int ports_[4] = {0, 0, 0, 0};
    uid_t mailUid_ = 0;
    gid_t mailGid_ = 0;
    std::string mailUser_;
    std::string mailGroup_;
    std::string introspection_;
    long stamp_ = 1000000000;
    int sequence_ = 0;
    bool keepPorts_ = false;
    std::vector<User> users_;
};
