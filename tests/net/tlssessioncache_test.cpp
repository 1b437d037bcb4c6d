// The TLS session cache: one session per server, the newest kept, bounded, and safe to use
// from several check threads at once (ASan and UBSan watch the references).

#include "tlssessioncache.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <thread>
#include <vector>

namespace
{

TEST(TlsSessionCache, KeysNameTheServerWhateverItsCase)
{
    EXPECT_EQ(TlsSessionCache::KeyOf("Mail.Example.COM", 995), "mail.example.com:995");
    EXPECT_NE(TlsSessionCache::KeyOf("mail.example.com", 995),
              TlsSessionCache::KeyOf("mail.example.com", 993));
}

TEST(TlsSessionCache, KeepsTheNewestPerServerAndForgetsTheOldestServer)
{
    TlsSessionCache cache;
    SSL_SESSION* first = SSL_SESSION_new();
    SSL_SESSION* second = SSL_SESSION_new();
    cache.Store("a:1", first);
    cache.Store("a:1", second);
    EXPECT_EQ(cache.Size(), 1u);
    SSL_SESSION* taken = cache.Take("a:1");
    EXPECT_EQ(taken, second);
    SSL_SESSION_free(taken);
    EXPECT_EQ(cache.Take("b:1"), nullptr);

    for (std::size_t i = 0; i < TlsSessionCache::kMaxServers + 5; ++i)
        cache.Store("s" + std::to_string(i) + ":1", SSL_SESSION_new());
    EXPECT_EQ(cache.Size(), TlsSessionCache::kMaxServers);
    EXPECT_EQ(cache.Take("a:1"), nullptr);
    const std::string newestKey = "s" + std::to_string(TlsSessionCache::kMaxServers + 4) + ":1";
    SSL_SESSION* newest = cache.Take(newestKey);
    EXPECT_NE(newest, nullptr);
    SSL_SESSION_free(newest);

    cache.Forget(newestKey);
    EXPECT_EQ(cache.Take(newestKey), nullptr);
}

TEST(TlsSessionCache, ChecksOnSeveralThreads)
{
    TlsSessionCache cache;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string key = "host" + std::to_string((t + i) % 8) + ":995";
                cache.Store(key, SSL_SESSION_new());
                if (SSL_SESSION* s = cache.Take(key))
                    SSL_SESSION_free(s);
                if (i % 50 == 0)
                    cache.Forget(key);
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_LE(cache.Size(), 8u);
}

} // namespace
