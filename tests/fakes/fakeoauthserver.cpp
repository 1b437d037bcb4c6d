#include "fakeoauthserver.h"

#include "support/portserver.h"

#include <csignal>
#include <curl/curl.h>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

size_t Collect(char* data, size_t size, size_t count, void* user)
{
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// One request without following redirects: the status, the body and the Location header.
struct Answer {
    long status = -1;
    std::string body;
    std::string location;
};

Answer Request(const std::string& url, bool post)
{
    Answer answer;
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (post)
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
        char* location = nullptr;
        if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
            answer.location = location;
    }
    curl_easy_cleanup(curl);
    return answer;
}

} // namespace

FakeOAuthServer::~FakeOAuthServer()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool FakeOAuthServer::Start(const std::string& clientId, std::string* error)
{
    std::string line;
    port_ = SpawnPortServer({"/usr/bin/python3", POSTWATCH_OAUTH_SERVER, clientId}, pid_, line);
    if (port_ < 0) {
        *error = "the simulated authorization server did not start (" + line + ")";
        return false;
    }
    return true;
}

bool FakeOAuthServer::Control(const std::string& what) const
{
    return Request(BaseUrl() + "/control/" + what, true).status == 200;
}

std::map<std::string, int> FakeOAuthServer::Stats() const
{
    std::map<std::string, int> stats;
    const std::string body = Request(BaseUrl() + "/control/stats", false).body;
    static const std::regex kPair("\"([a-z]+)\": ([0-9]+)");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), kPair);
         it != std::sregex_iterator(); ++it)
        stats[(*it)[1].str()] = std::stoi((*it)[2].str());
    return stats;
}

int FakeOAuthServer::FollowSignIn(const std::string& authorizationUrl, std::string* redirect)
{
    const Answer provider = Request(authorizationUrl, false);
    if (provider.status != 302 || provider.location.empty())
        return -1;
    if (redirect)
        *redirect = provider.location;
    return static_cast<int>(Request(provider.location, false).status);
}
