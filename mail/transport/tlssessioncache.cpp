#include "tlssessioncache.h"

#include <openssl/ssl.h>

TlsSessionCache& TlsSessionCache::Instance()
{
    // Never destroyed: a check thread may still finish a handshake while the process exits.
    static TlsSessionCache* cache = new TlsSessionCache;
    return *cache;
}

TlsSessionCache::~TlsSessionCache()
{
    for (Entry& e : entries_)
        SSL_SESSION_free(e.session);
}

std::string TlsSessionCache::KeyOf(const std::string& host, int port)
{
    std::string key = host;
    for (char& c : key)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return key + ":" + std::to_string(port);
}

SSL_SESSION* TlsSessionCache::Take(const std::string& key)
{
    std::lock_guard lock(mutex_);
    for (Entry& e : entries_) {
        if (e.key == key) {
            SSL_SESSION_up_ref(e.session);
            return e.session;
        }
    }
    return nullptr;
}

void TlsSessionCache::Store(const std::string& key, SSL_SESSION* session)
{
    if (session == nullptr)
        return;
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            SSL_SESSION_free(it->session);
            entries_.erase(it);
            break;
        }
    }
    entries_.push_front({key, session});
    while (entries_.size() > kMaxServers) {
        SSL_SESSION_free(entries_.back().session);
        entries_.pop_back();
    }
}

void TlsSessionCache::Forget(const std::string& key)
{
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            SSL_SESSION_free(it->session);
            entries_.erase(it);
            return;
        }
    }
}

std::size_t TlsSessionCache::Size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}
