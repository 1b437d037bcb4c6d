#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The HTTP side of one web-mail check, shared by both web-mail clients: one libcurl easy
// handle for the whole check, so its connections are kept alive and reused, with curl's
// in-memory cookie engine (cookies live as long as the session) and the proxy taken from the
// environment (http_proxy, https_proxy, no_proxy).
//
// http and https are accepted; https certificates and host names are verified against the
// system trust store, or against SSL_CERT_FILE / SSL_CERT_DIR when set (the same override the
// mail transport honours). Every request is held to the mail transport's time rule
// (transferdeadline.h, counted from the request's start): no silence longer than the
// check's time-out, and the answer whole within one time-out unless it keeps averaging at
// least 1 KiB per time-out period; either ends the request with PW_WEBMAIL_TIMEOUT, so a
// server that drips bytes cannot hold a check open. No answer body may exceed
// kMaxAnswerBytes.
//
// Redirects are followed by this class, not by curl: at most kMaxRedirects hops, never from
// https to http, only to http or https URLs; a 303 (and a 301/302 after a POST) continues as
// a GET without body. The Authorization header of a request is sent only to the host (scheme,
// host and port) of the request's own URL, never to a host a redirect leads to.
//
// Results: `code` is PW_WEBMAIL_SUCCESS when an HTTP answer arrived (whatever its status),
// PW_WEBMAIL_TIMEOUT on a time-out, PW_WEBMAIL_HTTP_ERROR for any other failure of the HTTP
// layer (connection refused, TLS failure, reset), PW_WEBMAIL_FAILED for a URL or redirect
// this class refuses, an answer over the cap, or a redirect loop; `message` says what
// happened in words a user can read.
//
// One object per check, used on the check's thread only.
class WebSession
{
public:
    static constexpr size_t kMaxAnswerBytes = 16u * 1024u * 1024u;
    static constexpr int kMaxRedirects = 5;
    static constexpr int kMaxParallelPerHost = 8;

    enum class Redirects {
        kFollow, // follow 301, 302, 303, 307, 308 (see above)
        kReturn, // hand the redirect answer back: status and Location in the response
    };

    struct Request {
        std::string method = "GET"; // any token: GET, POST, PROPFIND, MOVE ...
        std::string url;
        std::string body; // sent when not empty (and always for POST)
        std::string contentType;
        std::vector<std::string> headers; // extra "Name: value" lines
        std::string authorization;        // value of the Authorization header, or empty
        Redirects redirects = Redirects::kFollow;
    };

    struct Response {
        int code = 0;         // PW_WEBMAIL_*
        std::string message;  // readable; empty on success
        long status = 0;      // HTTP status of the last answer
        std::string headers;  // raw header block of the last answer (CR LF lines)
        std::string body;     // body of the last answer
        std::string finalUrl; // URL of the last answer
        std::string location; // absolute Location of a returned redirect, else empty
        int redirectsFollowed = 0;
    };

    // `timeOutSeconds` <= 0 means 60.
    explicit WebSession(int timeOutSeconds, std::string userAgent = {});
    ~WebSession();
    WebSession(const WebSession&) = delete;
    WebSession& operator=(const WebSession&) = delete;

    Response Perform(const Request& request);

    // Runs `requests` (GETs or any method without redirect following: answers come back as
    // they are) on up to kMaxParallelPerHost connections per host, calling `done(index,
    // response)` on this thread as each one finishes, in finishing order. When `done`
    // answers false no further request is started (those under way still finish and are
    // handed back); the ones never started get no call. The connections stay open for
    // later batches.
    void PerformBatch(const std::vector<Request>& requests,
                      const std::function<bool(size_t, const Response&)>& done);

    // For comparison runs only: every request on a connection of its own, and batches one
    // request at a time.
    void SetOneConnectionPerRequest(bool on) { oneConnectionPerRequest_ = on; }

    // Requests sent (each hop of a redirect counts) and new connections opened so far.
    uint64_t Requests() const { return requests_; }
    uint64_t Connections() const { return connections_; }

    // "scheme://host:port" of an absolute http(s) URL, lower case, default ports filled in;
    // empty for anything else.
    static std::string Origin(const std::string& url);

    // Whether a redirect from `from` to the absolute `to` may be followed: only to http or
    // https, never from https to http. When not, *why says so in words.
    static bool RedirectAllowed(const std::string& from, const std::string& to, std::string* why);

    // `ref` (absolute, or relative as an href may be) resolved against `base`; empty when
    // either is unusable.
    static std::string Resolve(const std::string& base, const std::string& ref);

    // The request target of an absolute URL: its path and query ("/a/b?c"), "/" at least.
    static std::string RequestTarget(const std::string& url);

    struct Transfer; // one request's buffers (internal)

private:
    void Configure(void* easy);
    void Prepare(void* easy, const Request& request, const std::string& method,
                 const std::string& url, bool withBody, bool withAuthorization, Transfer& t);
    Response Finish(void* easy, int curlCode, const std::string& url, Transfer& t);

    void* easy_ = nullptr;
    void* multi_ = nullptr;
    void* share_ = nullptr;
    std::vector<void*> pool_;
    long timeOutSeconds_;
    std::string userAgent_;
    std::string caFile_;
    std::string caDir_;
    bool oneConnectionPerRequest_ = false;
    uint64_t requests_ = 0;
    uint64_t connections_ = 0;
};
