#include "httpsfetch.h"

#include <cstdlib>
#include <curl/curl.h>
#include <memory>

namespace
{

// curl_global_init must run once, before the first handle, whichever thread comes first.
void GlobalInit()
{
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

struct Transfer {
    std::string body;
    bool overflow = false;
    const std::atomic<bool>* cancel = nullptr;
};

size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t->body.size() + n > HttpsFetch::kMaxBytes) {
        t->overflow = true;
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    t->body.append(data, n);
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer*>(user)->cancel->load() ? 1 : 0;
}

std::string EnvOrEmpty(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

// "scheme://host:port" in lower case with the default port filled in; empty when `url` is
// not an absolute URL.
std::string Origin(const std::string& url)
{
    std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return {};
    std::string origin;
    for (const CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
        char* text = nullptr;
        if (curl_url_get(u.get(), part, &text, CURLU_DEFAULT_PORT) != CURLUE_OK)
            return {};
        origin += text;
        origin += '|';
        curl_free(text);
    }
    for (char& c : origin)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return origin;
}

bool IsHttps(const std::string& url)
{
    return Origin(url).rfind("https|", 0) == 0;
}

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};

} // namespace

HttpsFetch::Result HttpsFetch::Get(const std::string& url, bool sameHostOnly,
                                   const std::atomic<bool>& cancel)
{
    GlobalInit();
    Result result;
    const std::string caFile = EnvOrEmpty("SSL_CERT_FILE");
    const std::string caDir = EnvOrEmpty("SSL_CERT_DIR");
    const std::string firstOrigin = Origin(url);
    std::string current = url;
    for (int hop = 0;; ++hop) {
        result.lastUrl = current;
        if (!IsHttps(current)) {
            result.error = "only https addresses are used for server settings";
            return result;
        }
        std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
        if (!easy) {
            result.error = "the HTTP library could not start";
            return result;
        }
        CURL* e = easy.get();
        Transfer t;
        t.cancel = &cancel;
        curl_easy_setopt(e, CURLOPT_URL, current.c_str());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
        curl_easy_setopt(e, CURLOPT_TIMEOUT, kTotalSeconds);
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBytes));
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
        curl_easy_setopt(e, CURLOPT_USERAGENT, "Postwatch");
        if (!caFile.empty())
            curl_easy_setopt(e, CURLOPT_CAINFO, caFile.c_str());
        if (!caDir.empty())
            curl_easy_setopt(e, CURLOPT_CAPATH, caDir.c_str());
        const CURLcode code = curl_easy_perform(e);
        if (cancel) {
            result.error = "cancelled";
            return result;
        }
        if (t.overflow || code == CURLE_FILESIZE_EXCEEDED) {
            result.error = "the answer from " + current + " is larger than 1 MiB";
            return result;
        }
        if (code != CURLE_OK) {
            result.error = "no answer from " + current + ": " + curl_easy_strerror(code);
            return result;
        }
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &result.status);
        const long s = result.status;
        if (s == 301 || s == 302 || s == 303 || s == 307 || s == 308) {
            char* location = nullptr;
            curl_easy_getinfo(e, CURLINFO_REDIRECT_URL, &location);
            if (location == nullptr) {
                result.error = "a redirect from " + current + " names no target";
                return result;
            }
            if (hop >= kMaxRedirects) {
                result.error = "too many redirects from " + url;
                return result;
            }
            const std::string target = location;
            if (sameHostOnly && Origin(target) != firstOrigin) {
                result.error = "a redirect from " + current + " leads to another host";
                return result;
            }
            current = target;
            continue;
        }
        if (s != 200) {
            result.error = "the server answered " + std::to_string(s) + " for " + current;
            return result;
        }
        result.ok = true;
        result.body = std::move(t.body);
        return result;
    }
}
