#pragma once

#include <atomic>
#include <cstddef>
#include <string>

// The settings look-up's HTTP client: one GET of a small document over https, with libcurl.
//
// Bounded on every side: only https URLs (also after a redirect), connecting within
// kConnectSeconds and the whole transfer within kTotalSeconds, at most kMaxBytes of answer
// body (a longer one is refused, not cut), at most kMaxRedirects redirects, each checked by
// this class; with `sameHostOnly` a redirect to another host or port is refused. No
// compressed transfer is asked for, so the cap is on what is actually kept. Certificates and
// host names are verified against the system's trust store, or SSL_CERT_FILE / SSL_CERT_DIR
// when set (the same override as the mail transport); the proxy comes from the environment.
// Setting `cancel` ends a transfer within a fraction of a second.
//
// Threads: any; each call has its own handle.
class HttpsFetch
{
public:
    static constexpr size_t kMaxBytes = 1024 * 1024;
    static constexpr int kMaxRedirects = 3;
    static constexpr long kConnectSeconds = 4;
    static constexpr long kTotalSeconds = 6;

    struct Result {
        bool ok = false;     // a 200 answer within the bounds
        long status = 0;     // HTTP status of the last answer, 0 without one
        std::string body;    // the answer's body when ok
        std::string error;   // in words, when not ok
        std::string lastUrl; // the URL of the last request made
    };

    static Result Get(const std::string& url, bool sameHostOnly, const std::atomic<bool>& cancel);
};
