#include "websession.h"

#include "postwatch_plugin.h"
#include "transferdeadline.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <curl/curl.h>
#include <memory>
#include <string_view>

struct WebSession::Transfer {
    std::string body;
    std::string headers;
    bool overflow = false;
    // The time rule of the mail transport (transferdeadline.h): no silence longer than the
    // time-out, and an answer whole within one time-out unless it keeps averaging 1 KiB per
    // time-out from the request's start. Without the floor a server that drips a byte now
    // and then would hold the check for hours.
    TransferDeadline deadline{std::chrono::seconds(60), TransferDeadline::Rule::FloorRate,
                              TransferDeadline::Clock::now()};
    size_t received = 0; // header and body bytes handed to us so far
    TransferDeadline::Expiry expired = TransferDeadline::Expiry::None;
    std::string tooSlow; // the deadline's words, when it ended the transfer as too slow
    curl_slist* headerList = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    ~Transfer() { curl_slist_free_all(headerList); }
};

namespace
{

// curl_global_init must run once before any handle is made; the library may be entered from
// several check threads at once, and a function-local static runs it exactly once.
void GlobalInit()
{
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<WebSession::Transfer*>(user);
    const size_t n = size * count;
    if (t->body.size() + n > WebSession::kMaxAnswerBytes) {
        t->overflow = true;
        return 0; // makes curl end the transfer with CURLE_WRITE_ERROR
    }
    t->body.append(data, n);
    t->received += n;
    return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<WebSession::Transfer*>(user);
    const size_t n = size * count;
    // A new status line (after a 100 Continue, say) starts a new header block: keep the last.
    if (n >= 5 && std::string_view(data, 5) == "HTTP/")
        t->headers.clear();
    if (t->headers.size() + n > WebSession::kMaxAnswerBytes) {
        t->overflow = true;
        return 0;
    }
    t->headers.append(data, n);
    t->received += n;
    return n;
}

// Ends a transfer the deadline has run out for. Header lines count as they arrive (curl's own
// download count holds the body only), and so does what we sent: a request still being
// written is not silence.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t up)
{
    auto* t = static_cast<WebSession::Transfer*>(user);
    const auto now = TransferDeadline::Clock::now();
    t->deadline.Progress(t->received + static_cast<size_t>(up > 0 ? up : 0), now);
    t->expired = t->deadline.ExpiredAt(now);
    if (t->expired == TransferDeadline::Expiry::None)
        return 0;
    if (t->expired == TransferDeadline::Expiry::TooSlow)
        t->tooSlow = t->deadline.TooSlowText(now);
    return 1; // CURLE_ABORTED_BY_CALLBACK
}

std::string EnvOrEmpty(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string Scheme(const std::string& url)
{
    const auto colon = url.find("://");
    return colon == std::string::npos ? std::string() : Lower(url.substr(0, colon));
}

} // namespace

WebSession::WebSession(int timeOutSeconds, std::string userAgent)
    : timeOutSeconds_(timeOutSeconds > 0 ? timeOutSeconds : 60), userAgent_(std::move(userAgent)),
      caFile_(EnvOrEmpty("SSL_CERT_FILE")), caDir_(EnvOrEmpty("SSL_CERT_DIR"))
{
    GlobalInit();
    share_ = curl_share_init();
    if (share_) {
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    }
    easy_ = curl_easy_init();
    if (easy_)
        Configure(easy_);
}

WebSession::~WebSession()
{
    for (void* e : pool_)
        curl_easy_cleanup(e);
    if (multi_)
        curl_multi_cleanup(multi_);
    if (easy_)
        curl_easy_cleanup(easy_);
    if (share_)
        curl_share_cleanup(share_);
}

std::string WebSession::Origin(const std::string& url)
{
    CURLU* u = curl_url();
    if (!u)
        return {};
    std::string origin;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        char* port = nullptr;
        curl_url_get(u, CURLUPART_SCHEME, &scheme, 0);
        curl_url_get(u, CURLUPART_HOST, &host, 0);
        curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT);
        if (scheme && host && port) {
            const std::string s = Lower(scheme);
            if (s == "http" || s == "https")
                origin = s + "://" + Lower(host) + ":" + port;
        }
        curl_free(scheme);
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(u);
    return origin;
}

std::string WebSession::Resolve(const std::string& base, const std::string& ref)
{
    CURLU* u = curl_url();
    if (!u)
        return {};
    std::string out;
    char* full = nullptr;
    if (curl_url_set(u, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl_url_set(u, CURLUPART_URL, ref.c_str(), 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_URL, &full, 0) == CURLUE_OK && full)
        out = full;
    curl_free(full);
    curl_url_cleanup(u);
    return out;
}

std::string WebSession::RequestTarget(const std::string& url)
{
    CURLU* u = curl_url();
    if (!u)
        return "/";
    std::string out = "/";
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* path = nullptr;
        char* query = nullptr;
        curl_url_get(u, CURLUPART_PATH, &path, 0);
        curl_url_get(u, CURLUPART_QUERY, &query, 0);
        if (path && *path)
            out = path;
        if (query)
            out += std::string("?") + query;
        curl_free(path);
        curl_free(query);
    }
    curl_url_cleanup(u);
    return out;
}

bool WebSession::RedirectAllowed(const std::string& from, const std::string& to, std::string* why)
{
    if (Origin(to).empty()) {
        if (why)
            *why = "redirected to \"" + to + "\", which is not an http or https address";
        return false;
    }
    if (Scheme(from) == "https" && Scheme(to) == "http") {
        if (why)
            *why = "redirected from a secure address to the insecure \"" + to + "\"";
        return false;
    }
    return true;
}

void WebSession::Configure(void* easy)
{
    CURL* e = easy;
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, timeOutSeconds_);
    // The deadline of every request is watched in OnProgress.
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswerBytes));
    // Set once per handle: the handles are never reset, so the engine and its cookies stay
    // for the whole check; the share gives every handle of the session the same cookies.
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
    if (share_)
        curl_easy_setopt(e, CURLOPT_SHARE, share_);
    if (!userAgent_.empty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, userAgent_.c_str());
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile_.empty())
        curl_easy_setopt(e, CURLOPT_CAINFO, caFile_.c_str());
    if (!caDir_.empty())
        curl_easy_setopt(e, CURLOPT_CAPATH, caDir_.c_str());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
}

void WebSession::Prepare(void* easy, const Request& request, const std::string& method,
                         const std::string& url, bool withBody, bool withAuthorization, Transfer& t)
{
    CURL* e = easy;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorText);
    t.deadline =
        TransferDeadline(std::chrono::seconds(timeOutSeconds_), TransferDeadline::Rule::FloorRate,
                         TransferDeadline::Clock::now());
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, oneConnectionPerRequest_ ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_FORBID_REUSE, oneConnectionPerRequest_ ? 1L : 0L);
    // Back to a plain GET before this request's method and body are set.
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);

    if (withBody && (method == "POST" || !request.body.empty())) {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, request.body.c_str());
    }
    if (method != "GET" && method != "POST")
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());

    // No "Expect: 100-continue": many small servers never answer it and the body would wait.
    t.headerList = curl_slist_append(t.headerList, "Expect:");
    if (withBody && !request.contentType.empty())
        t.headerList =
            curl_slist_append(t.headerList, ("Content-Type: " + request.contentType).c_str());
    for (const std::string& h : request.headers) {
        // A header line must stay one line: a CR or LF would start a header of its own.
        if (h.find_first_of("\r\n") == std::string::npos)
            t.headerList = curl_slist_append(t.headerList, h.c_str());
    }
    if (withAuthorization && !request.authorization.empty() &&
        request.authorization.find_first_of("\r\n") == std::string::npos)
        t.headerList =
            curl_slist_append(t.headerList, ("Authorization: " + request.authorization).c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headerList);
}

WebSession::Response WebSession::Finish(void* easy, int curlCode, const std::string& url,
                                        Transfer& t)
{
    CURL* e = easy;
    Response r;
    ++requests_;
    long connects = 0;
    if (curl_easy_getinfo(e, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK && connects > 0)
        connections_ += static_cast<uint64_t>(connects);
    r.finalUrl = url;
    const auto code = static_cast<CURLcode>(curlCode);
    const std::string detail = t.errorText[0] ? t.errorText : curl_easy_strerror(code);
    switch (code) {
    case CURLE_OK:
        r.code = PW_WEBMAIL_SUCCESS;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &r.status);
        r.headers = std::move(t.headers);
        r.body = std::move(t.body);
        if (IsRedirect(r.status)) {
            char* location = nullptr;
            if (curl_easy_getinfo(e, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
                r.location = location;
        }
        return r;
    case CURLE_ABORTED_BY_CALLBACK:
        if (t.expired == TransferDeadline::Expiry::None)
            break;
        if (t.expired == TransferDeadline::Expiry::TooSlow) {
            r.code = PW_WEBMAIL_TIMEOUT;
            r.message = url + ": " + t.tooSlow;
            return r;
        }
        [[fallthrough]];
    case CURLE_OPERATION_TIMEDOUT:
        r.code = PW_WEBMAIL_TIMEOUT;
        r.message =
            url + ": the server did not answer within " + std::to_string(timeOutSeconds_) + " s";
        return r;
    case CURLE_FILESIZE_EXCEEDED:
        r.code = PW_WEBMAIL_FAILED;
        r.message = url + ": the answer is larger than 16 MiB";
        return r;
    case CURLE_WRITE_ERROR:
        if (t.overflow) {
            r.code = PW_WEBMAIL_FAILED;
            r.message = url + ": the answer is larger than 16 MiB";
            return r;
        }
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        r.code = PW_WEBMAIL_FAILED;
        r.message = url + ": not a usable http or https address (" + detail + ")";
        return r;
    default:
        break;
    }
    r.code = PW_WEBMAIL_HTTP_ERROR;
    r.message = url + ": " + detail;
    return r;
}

WebSession::Response WebSession::Perform(const Request& request)
{
    Response r;
    if (!easy_) {
        r.code = PW_WEBMAIL_FAILED;
        r.message = "out of memory for an HTTP request";
        return r;
    }
    const std::string authOrigin = Origin(request.url);
    if (authOrigin.empty()) {
        r.code = PW_WEBMAIL_FAILED;
        r.message = "\"" + request.url + "\" is not an http or https address";
        return r;
    }
    std::string url = request.url;
    std::string method = request.method;
    bool withBody = true;
    for (int hop = 0;; ++hop) {
        Transfer t;
        Prepare(easy_, request, method, url, withBody, Origin(url) == authOrigin, t);
        const CURLcode rc = curl_easy_perform(easy_);
        r = Finish(easy_, rc, url, t);
        r.redirectsFollowed = hop;
        if (r.code != PW_WEBMAIL_SUCCESS || !IsRedirect(r.status) ||
            request.redirects == Redirects::kReturn)
            return r;
        if (r.location.empty()) {
            r.code = PW_WEBMAIL_FAILED;
            r.message =
                url + ": redirect (" + std::to_string(r.status) + ") without a usable Location";
            return r;
        }
        if (hop == kMaxRedirects) {
            r.code = PW_WEBMAIL_FAILED;
            r.message = request.url + ": more than " + std::to_string(kMaxRedirects) + " redirects";
            return r;
        }
        std::string why;
        if (!RedirectAllowed(url, r.location, &why)) {
            r.code = PW_WEBMAIL_FAILED;
            r.message = url + ": " + why;
            return r;
        }
        // RFC 9110 15.4.4: 303 continues as GET; 301/302 after POST do so too in practice.
        if (r.status == 303 || ((r.status == 301 || r.status == 302) && method == "POST")) {
            method = "GET";
            withBody = false;
        }
        url = r.location;
    }
}

void WebSession::PerformBatch(const std::vector<Request>& requests,
                              const std::function<bool(size_t, const Response&)>& done)
{
    if (requests.empty())
        return;
    auto oneByOne = [&](bool returnRedirects) {
        for (size_t i = 0; i < requests.size(); ++i) {
            WebSession::Request one = requests[i];
            if (returnRedirects)
                one.redirects = Redirects::kReturn;
            if (!done(i, Perform(one)))
                return;
        }
    };
    if (oneConnectionPerRequest_) {
        oneByOne(true);
        return;
    }
    if (!multi_) {
        multi_ = curl_multi_init();
        if (multi_)
            curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS,
                              static_cast<long>(kMaxParallelPerHost));
    }
    if (!multi_) {
        oneByOne(false);
        return;
    }
    while (pool_.size() < static_cast<size_t>(kMaxParallelPerHost)) {
        CURL* e = curl_easy_init();
        if (!e)
            break;
        Configure(e);
        pool_.push_back(e);
    }
    if (pool_.empty()) {
        oneByOne(false);
        return;
    }

    struct Slot {
        size_t index = 0;
        std::string url;
        std::unique_ptr<Transfer> transfer;
        bool busy = false;
    };
    std::vector<Slot> slots(pool_.size());
    size_t next = 0;
    size_t running = 0;
    bool more = true; // `done` has not asked to stop

    auto start = [&](size_t s) {
        const Request& req = requests[next];
        Slot& slot = slots[s];
        slot.index = next++;
        slot.url = req.url;
        slot.transfer = std::make_unique<Transfer>();
        if (Origin(req.url).empty()) {
            Response r;
            r.code = PW_WEBMAIL_FAILED;
            r.message = "\"" + req.url + "\" is not an http or https address";
            more = done(slot.index, r) && more;
            return false;
        }
        Prepare(pool_[s], req, req.method, req.url, true, true, *slot.transfer);
        curl_multi_add_handle(multi_, pool_[s]);
        slot.busy = true;
        ++running;
        return true;
    };
    auto fill = [&] {
        for (size_t s = 0; s < slots.size() && next < requests.size() && more; ++s) {
            while (!slots[s].busy && next < requests.size() && more)
                start(s);
        }
    };

    fill();
    while (running > 0) {
        int stillRunning = 0;
        curl_multi_perform(multi_, &stillRunning);
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            CURL* e = msg->easy_handle;
            const CURLcode rc = msg->data.result;
            const auto it = std::find(pool_.begin(), pool_.end(), e);
            curl_multi_remove_handle(multi_, e);
            if (it == pool_.end())
                continue;
            const size_t s = static_cast<size_t>(it - pool_.begin());
            Slot& slot = slots[s];
            const Response r = Finish(e, rc, slot.url, *slot.transfer);
            slot.busy = false;
            --running;
            slot.transfer.reset();
            more = done(slot.index, r) && more;
        }
        fill();
        if (running > 0)
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
}
