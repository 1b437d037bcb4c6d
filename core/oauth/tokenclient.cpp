#include "tokenclient.h"

#include "authorizationrequest.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace
{

using AuthorizationRequest::FormEncode;

struct Body {
    std::string bytes;
    bool tooLarge = false;
};

size_t Collect(char* data, size_t size, size_t count, void* user)
{
    auto* body = static_cast<Body*>(user);
    const size_t n = size * count;
    if (body->bytes.size() + n > TokenResponse::kMaxBytes) {
        body->tooLarge = true;
        return 0; // ends the transfer
    }
    body->bytes.append(data, n);
    return n;
}

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string CommonFields(const OAuthProvider& provider)
{
    std::string form = "&client_id=" + FormEncode(provider.clientId);
    if (!provider.clientSecret.empty())
        form += "&client_secret=" + FormEncode(provider.clientSecret);
    return form;
}

} // namespace

TokenClient::Result TokenClient::ExchangeCode(const OAuthProvider& provider,
                                              const std::string& code, const std::string& verifier,
                                              const std::string& redirectUri)
{
    return Post(provider, "grant_type=authorization_code&code=" + FormEncode(code) +
                              "&redirect_uri=" + FormEncode(redirectUri) +
                              "&code_verifier=" + FormEncode(verifier) + CommonFields(provider));
}

TokenClient::Result TokenClient::Refresh(const OAuthProvider& provider,
                                         const std::string& refreshToken)
{
    return Post(provider, "grant_type=refresh_token&refresh_token=" + FormEncode(refreshToken) +
                              CommonFields(provider));
}

TokenClient::Result TokenClient::Post(const OAuthProvider& provider, const std::string& form)
{
    GlobalInit();
    Result result;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        result.status = TokenClient::Status::Unreachable;
        result.message = "cannot start an HTTP session";
        return result;
    }
    Body body;
    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers,
                                                                           curl_slist_free_all);
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, provider.tokenUrl.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, form.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(timeOutSeconds_));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Postwatch");
    const CURLcode code = curl_easy_perform(h);
    const std::string where = "the token endpoint of " + provider.name;
    if (body.tooLarge) {
        result.message = where + " sent an answer that is too large";
        return result;
    }
    if (code != CURLE_OK) {
        result.status = TokenClient::Status::Unreachable;
        result.message = "cannot reach " + where + ": " + curl_easy_strerror(code);
        return result;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    result.response = TokenResponse::Parse(body.bytes);
    if (result.response.ok && status == 200) {
        result.status = TokenClient::Status::Ok;
        return result;
    }
    const std::string error = result.response.error;
    // RFC 6749 section 5.2: invalid_grant is an expired, revoked or otherwise bad grant;
    // asking again with the same grant cannot help.
    result.status =
        error == "invalid_grant" ? TokenClient::Status::Refused : TokenClient::Status::Failed;
    result.message =
        where + " refused (HTTP " + std::to_string(status) +
        "): " + (error.empty() ? std::string("no reason given") : error) +
        (result.response.errorDescription.empty() ? std::string()
                                                  : " (" + result.response.errorDescription + ")");
    result.response.accessToken.clear();
    result.response.refreshToken.clear();
    return result;
}
