#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <string>

struct ssl_session_st;

// The last TLS session of each server this process talked to, so that the next check of the
// same account resumes it (an abbreviated handshake) where the server allows.
//
// Keyed by the server as the user typed it and its port ("mail.example.com:995"): a session
// is never offered to another host name, and the certificate of a resumed session is still
// checked against the trust store and the name, or against the certificate the account
// trusts (MailSocket does that). Bounded: the least
// recently stored server is forgotten first.
//
// Threads: any; every operation takes the cache's lock. Ownership: Take hands out a reference
// the caller frees (SSL_SESSION_free); Store takes over the reference it is given.
class TlsSessionCache
{
public:
    static constexpr std::size_t kMaxServers = 64;

    // The process's cache.
    static TlsSessionCache& Instance();

    TlsSessionCache() = default;
    ~TlsSessionCache();
    TlsSessionCache(const TlsSessionCache&) = delete;
    TlsSessionCache& operator=(const TlsSessionCache&) = delete;

    // "host:port", the host lower-cased (names do not differ by case).
    static std::string KeyOf(const std::string& host, int port);

    // The session stored for `key` (with a reference for the caller), or nullptr.
    ssl_session_st* Take(const std::string& key);
    // Replaces what is stored for `key`; takes over `session`'s reference.
    void Store(const std::string& key, ssl_session_st* session);
    void Forget(const std::string& key);
    std::size_t Size() const;

private:
    struct Entry {
        std::string key;
        ssl_session_st* session;
    };

    mutable std::mutex mutex_;
    std::list<Entry> entries_; // most recently stored first
};
