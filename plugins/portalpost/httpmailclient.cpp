#include "httpmailclient.h"

#include "mimedecoding.h"
#include "webmailreporter.h"

#include <cstdio>
#include <cstdlib>

namespace
{

// A decimal number as the server wrote it; anything else (and anything negative) is 0, and
// a huge one is capped so that no budget can wrap.
int64_t Decimal(const std::string& text)
{
    int64_t value = 0;
    size_t i = 0;
    if (text.empty())
        return 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return i == 0 ? 0 : value;
        value = value * 10 + (c - '0');
        if (value > (int64_t{1} << 40))
            return int64_t{1} << 40;
    }
    return value;
}

std::string LastSegment(const std::string& href)
{
    const auto slash = href.rfind('/');
    return slash == std::string::npos ? href : href.substr(slash + 1);
}

// The reporter decodes HTML entities once more after our XML reader resolved XML's own
// references; escaping '&' makes that second pass give back exactly this text, so a subject
// that reads "&lt;" stays "&lt;".
std::string KeepAmpersands(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

bool IsRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct Candidate {
    std::string id;
    std::string subject;
    std::string from;
    WebMailReporter::Message message;
    std::string absoluteUrl;
};

} // namespace

HttpMailClient::HttpMailClient(const PwSink& sink, std::string account, std::string userName,
                               std::string password, int timeOutSeconds, HotmailEndpoints endpoints)
    : session_(timeOutSeconds, kUserAgent), sink_(sink), account_(std::move(account)),
      password_(std::move(password)), endpoints_(std::move(endpoints))
{
    // The Digest user is the full address; a name that already carries its domain keeps it.
    digestUser_ = userName;
    if (userName.find('@') == std::string::npos && !endpoints_.mailDomain.empty())
        digestUser_ += "@" + endpoints_.mailDomain;
}

std::string HttpMailClient::PropfindBody(Body body, const std::string& namespaceUri)
{
    static const char* const kRoot[] = {"hm:msgfolderroot"};
    static const char* const kFolders[] = {"D:isfolder", "hm:special", "hm:unreadcount",
                                           "D:hassubs"};
    static const char* const kMessages[] = {
        "hm:read", "m:from", "m:subject", "m:date", "D:getcontentlength", "hm:hasattachment"};
    const char* const* names = kRoot;
    size_t count = 1;
    if (body == Body::kFolders) {
        names = kFolders;
        count = 4;
    } else if (body == Body::kMessages) {
        names = kMessages;
        count = 6;
    }
    std::string out = "<?xml version=\"1.0\"?>\r\n<D:propfind xmlns:D=\"DAV:\" "
                      "xmlns:m=\"urn:schemas:mailheader:\" xmlns:h=\"" +
                      namespaceUri + "\" xmlns:hm=\"urn:schemas:httpmail:\">\r\n\t<D:prop>\r\n";
    for (size_t i = 0; i < count; ++i)
        out += std::string("\t\t<") + names[i] + "/>\r\n";
    out += "\t</D:prop>\r\n</D:propfind>";
    return out;
}

int HttpMailClient::Fail(int code, std::string message)
{
    message_ = std::move(message);
    return code;
}

int HttpMailClient::Propfind(const std::string& startUrl, Body body, std::string& answerUrl,
                             std::vector<XmlResponseReader::Response>& responses)
{
    WebSession::Request request;
    request.method = "PROPFIND";
    request.url = startUrl;
    request.body = PropfindBody(body, endpoints_.namespaceUri);
    request.contentType = "text/xml";
    request.redirects = WebSession::Redirects::kReturn;
    // RFC 7616 3.4: a nonce may be used again with the next nc; answering the last challenge
    // of this host at once spares a 401 round trip per request. A server that no longer
    // takes the nonce answers 401 (stale) and gets a fresh answer below.
    if (digest_.HasChallenge() && WebSession::Origin(startUrl) == challengeOrigin_)
        request.authorization = digest_.Authorization(
            "PROPFIND", WebSession::RequestTarget(startUrl), digestUser_, password_);
    int redirects = 0;
    int challenges = 0;
    int retries = 0;
    for (;;) {
        const WebSession::Response answer = session_.Perform(request);
        // The Authorization header answers one challenge on one request.
        request.authorization.clear();
        if (answer.code != PW_WEBMAIL_SUCCESS)
            return Fail(answer.code, answer.message);
        const std::string& url = request.url;
        if (answer.status == 207) {
            std::string error;
            if (!XmlResponseReader::Parse(answer.body, responses, &error))
                return Fail(PW_WEBMAIL_FAILED, url + ": " + error);
            answerUrl = url;
            return PW_WEBMAIL_SUCCESS;
        }
        if (IsRedirect(answer.status)) {
            if (++redirects > WebSession::kMaxRedirects)
                return Fail(PW_WEBMAIL_FAILED, startUrl + ": more than " +
                                                   std::to_string(WebSession::kMaxRedirects) +
                                                   " redirects");
            std::string why;
            if (answer.location.empty())
                return Fail(PW_WEBMAIL_FAILED, url + ": a redirect without a usable Location");
            if (!WebSession::RedirectAllowed(url, answer.location, &why))
                return Fail(PW_WEBMAIL_FAILED, url + ": " + why);
            // A challenge answered for one host is no answer for another.
            if (WebSession::Origin(answer.location) != WebSession::Origin(url))
                challenges = 0;
            request.url = answer.location;
            continue;
        }
        if (answer.status == 401) {
            if (answer.headers.find("Bad Password") != std::string::npos)
                return Fail(PW_WEBMAIL_LOGIN_REFUSED,
                            url + ": the server refused the log-in (Bad Password)");
            if (++challenges > kMaxChallenges)
                return Fail(PW_WEBMAIL_LOGIN_REFUSED, url + ": the server refused the log-in " +
                                                          std::to_string(kMaxChallenges) +
                                                          " times");
            DigestAuth::Challenge challenge;
            std::string error;
            if (!DigestAuth::FindChallenge(answer.headers, challenge, &error))
                return Fail(PW_WEBMAIL_FAILED, url + ": " + error);
            digest_.SetChallenge(challenge);
            challengeOrigin_ = WebSession::Origin(url);
            request.authorization = digest_.Authorization(
                "PROPFIND", WebSession::RequestTarget(url), digestUser_, password_);
            if (request.authorization.empty())
                return Fail(PW_WEBMAIL_FAILED,
                            "the user name or password holds a line break or a zero byte");
            continue;
        }
        if (answer.status == 503)
            return Fail(PW_WEBMAIL_LOGIN_REFUSED,
                        url + ": the server is unavailable to this account (503)");
        if (++retries > 1)
            return Fail(PW_WEBMAIL_FAILED, url + ": the server answered PROPFIND with status " +
                                               std::to_string(answer.status));
    }
}

WebSession::Response HttpMailClient::SendWithChallenge(WebSession::Request request)
{
    request.redirects = WebSession::Redirects::kReturn;
    WebSession::Response answer;
    for (int challenges = 0;; ++challenges) {
        answer = session_.Perform(request);
        if (answer.code != PW_WEBMAIL_SUCCESS || answer.status != 401 ||
            challenges == kMaxChallenges ||
            answer.headers.find("Bad Password") != std::string::npos)
            return answer;
        DigestAuth::Challenge challenge;
        if (!DigestAuth::FindChallenge(answer.headers, challenge, nullptr))
            return answer;
        digest_.SetChallenge(challenge);
        challengeOrigin_ = WebSession::Origin(request.url);
        request.authorization = digest_.Authorization(
            request.method, WebSession::RequestTarget(request.url), digestUser_, password_);
        if (request.authorization.empty())
            return answer;
    }
}

int HttpMailClient::Check(int32_t& newCount)
{
    newCount = 0;
    std::vector<XmlResponseReader::Response> responses;
    std::string answerUrl;
    int code = Propfind(endpoints_.gatewayUrl, Body::kRoot, answerUrl, responses);
    if (code != PW_WEBMAIL_SUCCESS)
        return code;
    const std::string rootHref =
        responses.empty() ? std::string() : responses.front().Get("hm:msgfolderroot");
    if (rootHref.empty())
        return Fail(PW_WEBMAIL_FAILED, answerUrl + ": the answer names no folder root");
    const std::string rootUrl = WebSession::Resolve(answerUrl, rootHref);
    if (rootUrl.empty())
        return Fail(PW_WEBMAIL_FAILED, "the folder root \"" + rootHref + "\" is no usable address");

    code = Propfind(rootUrl, Body::kFolders, answerUrl, responses);
    if (code != PW_WEBMAIL_SUCCESS)
        return code;
    std::vector<Folder> folders;
    for (const auto& r : responses) {
        // The folder list ends at the first response that is not a folder.
        if (Decimal(r.Get("D:isfolder")) == 0)
            break;
        Folder f;
        f.href = WebSession::Resolve(answerUrl, r.Get("D:href"));
        f.special = r.Get("hm:special");
        f.unread = Decimal(r.Get("hm:unreadcount"));
        if (f.unread != 0 && !f.href.empty() &&
            (f.special.empty() || f.special == "inbox" || f.special == "msnpromo")) {
            if (folders.size() == kMaxFolders)
                break;
            folders.push_back(f);
        }
        if (f.special == "deleteditems")
            deletedItems_ = f.href;
    }

    WebMailReporter reporter(sink_, account_);
    if (reporter.Open() != PW_WEBMAIL_SUCCESS)
        return Fail(PW_WEBMAIL_FAILED, reporter.Error());

    for (const Folder& folder : folders) {
        bool stop = false;
        code = CheckFolder(folder, reporter, stop);
        newCount = reporter.Count();
        if (code != PW_WEBMAIL_SUCCESS)
            return code;
        if (stop)
            return Fail(PW_WEBMAIL_FAILED,
                        "the program did not take the new mail; the check ended early");
    }
    newCount = reporter.Count();
    message_.clear();
    return PW_WEBMAIL_SUCCESS;
}

int HttpMailClient::CheckFolder(const Folder& folder, WebMailReporter& reporter, bool& stop)
{
    std::vector<XmlResponseReader::Response> responses;
    std::string answerUrl;
    const int code = Propfind(folder.href, Body::kMessages, answerUrl, responses);
    if (code != PW_WEBMAIL_SUCCESS)
        return code;

    // The unread messages within the folder's budget, in listing order.
    struct Listed {
        const XmlResponseReader::Response* response;
        std::string href;
        std::string url;
        std::string id;
    };
    std::vector<Listed> listed;
    std::vector<std::string> ids;
    int64_t budget = folder.unread;
    for (const auto& r : responses) {
        if (budget <= 0)
            break;
        Listed l{&r, r.Get("D:href"), {}, {}};
        l.url = WebSession::Resolve(answerUrl, l.href);
        if (l.url == folder.href)
            continue; // the folder itself, listed by some servers
        if (r.Get("hm:read") == "1")
            continue; // read messages do not use up the unread budget
        --budget;
        l.id = LastSegment(l.href);
        // A message without an identifier we can keep would be reported at every check.
        if (l.id.empty() || l.id.size() > CMidsFile::kMaxIdentifierLength)
            continue;
        ids.push_back(l.id);
        listed.push_back(std::move(l));
    }

    // Every new one is recorded first (one flush for the folder), then filtered; those to
    // report wait for their attachment probes, which run for all of them at once.
    std::vector<bool> isNew;
    if (!reporter.RecordNew(ids, isNew))
        return Fail(PW_WEBMAIL_FAILED, reporter.Error());
    std::vector<std::string> recorded; // the identifiers RecordNew added, in file order
    for (size_t i = 0; i < listed.size(); ++i) {
        if (isNew[i])
            recorded.push_back(listed[i].id);
    }
    // Attachment probes are extras whose failure is passed over; after one ran out of time
    // no more are sent: each would wait as long, and a long listing would hold the check for
    // hours. A move that runs out of time ends the folder: that message and every one after
    // it are taken back out of the MIDS file once the ones before are reported, so the next
    // check deletes (or reports) them, and this one ends with the time-out.
    bool timedOut = false;
    size_t takeBackFrom = recorded.size(); // index in `recorded`; none when at its end
    std::string moveFailure;
    std::vector<Candidate> toReport;
    for (size_t i = 0, n = 0; i < listed.size(); ++i) {
        if (!isNew[i])
            continue;
        const size_t position = n++;
        const Listed& l = listed[i];
        const XmlResponseReader::Response& r = *l.response;
        Candidate c;
        c.id = l.id;
        c.subject = KeepAmpersands(DecodeWords(r.Get("m:subject")));
        c.from = KeepAmpersands(DecodeWords(r.Get("m:from")));
        const WebMailReporter::Decision decision = reporter.Filter(c.subject, c.from);
        if (decision == WebMailReporter::Decision::kHide)
            continue;
        if (decision == WebMailReporter::Decision::kDelete) {
            // RFC 4918 9.9: MOVE with the Destination header; a refusal is not acted on.
            WebSession::Request move;
            move.method = "MOVE";
            move.url = l.url;
            const std::string destination = deletedItems_.empty() ? c.id : deletedItems_ + c.id;
            move.headers.push_back("Destination: " + destination);
            const WebSession::Response moved = SendWithChallenge(move);
            if (moved.code == PW_WEBMAIL_TIMEOUT) {
                timedOut = true;
                takeBackFrom = position;
                moveFailure = moved.message;
                break;
            }
            continue;
        }
        c.message.url = l.href;
        c.message.date = r.Get("m:date");
        for (char& ch : c.message.date) {
            if (ch == 'T')
                ch = ' ';
        }
        char size[64];
        std::snprintf(size, sizeof size, "%.2fK",
                      static_cast<double>(Decimal(r.Get("D:getcontentlength"))) * 0.001);
        c.message.size = size;
        c.message.reserved = " ";
        c.message.attachment = Decimal(r.Get("hm:hasattachment")) != 0 ? "Yes" : "No";
        c.absoluteUrl = l.url;
        toReport.push_back(std::move(c));
    }

    // The attachment probes: a GET of each message, several at a time.
    std::vector<WebSession::Request> gets;
    gets.reserve(toReport.size());
    std::vector<size_t> probed; // index in toReport of each GET
    for (size_t i = 0; i < toReport.size(); ++i) {
        const Candidate& c = toReport[i];
        // A probe can only turn "No" into "Yes": a listed attachment needs none.
        if (c.message.attachment == "Yes")
            continue;
        probed.push_back(i);
        WebSession::Request get;
        get.url = c.absoluteUrl;
        get.headers.push_back("Accept: message/rfc822, text/*");
        gets.push_back(std::move(get));
    }
    // A failed probe leaves the flag as the listing gave it.
    std::vector<size_t> challenged;
    if (!timedOut)
        session_.PerformBatch(gets, [&](size_t i, const WebSession::Response& answer) {
            if (answer.code == PW_WEBMAIL_TIMEOUT)
                timedOut = true;
            if (answer.code == PW_WEBMAIL_SUCCESS && answer.status == 401)
                challenged.push_back(i);
            else if (answer.code == PW_WEBMAIL_SUCCESS && answer.status == 200 &&
                     answer.body.find("Content-Disposition: attachment;") != std::string::npos)
                toReport[probed[i]].message.attachment = "Yes";
            return !timedOut;
        });
    for (size_t i : challenged) {
        if (timedOut)
            break;
        const WebSession::Response answer = SendWithChallenge(gets[i]);
        timedOut = answer.code == PW_WEBMAIL_TIMEOUT;
        if (answer.code == PW_WEBMAIL_SUCCESS && answer.status == 200 &&
            answer.body.find("Content-Disposition: attachment;") != std::string::npos)
            toReport[probed[i]].message.attachment = "Yes";
    }

    for (size_t i = 0; i < toReport.size(); ++i) {
        const Candidate& c = toReport[i];
        const int answer = reporter.Report(c.id, c.message, c.subject, c.from);
        if (answer == PW_SINK_HANDLED)
            continue;
        // The program took nothing more: every message from this one on is taken back out
        // of the MIDS file (newest first), so the next check finds them again.
        stop = true;
        size_t from = 0;
        while (from < recorded.size() && recorded[from] != c.id)
            ++from;
        for (size_t k = recorded.size(); k > from; --k)
            reporter.TakeBack(recorded[k - 1]);
        return PW_WEBMAIL_SUCCESS;
    }
    if (takeBackFrom < recorded.size()) {
        for (size_t k = recorded.size(); k > takeBackFrom; --k)
            reporter.TakeBack(recorded[k - 1]);
        return Fail(PW_WEBMAIL_TIMEOUT, moveFailure);
    }
    return PW_WEBMAIL_SUCCESS;
}
