#include "yahoowebclient.h"

#include "hiddensecret.h"
#include "htmlentities.h"
#include "postwatch_plugin.h"

#include <nettle/md5.h>

namespace
{

constexpr const char* kUserAgent = "Koravel 3D Postwatch";
constexpr std::string_view kFolderPrefix = "/ym/ShowFolder?YY=";
constexpr std::string_view kUnreadViewPrefix = "/ym/ShowFolder?Search=&Nview=u";
constexpr std::string_view kPagePrefix = "/ym/ShowFolder?Search=&Npos=";
constexpr std::string_view kLogoutPrefix = "/ym/Logout?YY=";
constexpr std::string_view kLoginLogoutPrefix = "/config/login?logout=1";

std::string Md5Hex(const std::string& text)
{
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
    uint8_t digest[MD5_DIGEST_SIZE];
    md5_digest(&ctx, sizeof digest, digest);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    return hex;
}

// "scheme://host:port" of an absolute URL, or of a bare "host[:port]" taken as `scheme`.
std::string OriginOf(const std::string& hostOrUrl, const std::string& scheme)
{
    const std::string origin = WebSession::Origin(hostOrUrl);
    if (!origin.empty())
        return origin;
    return WebSession::Origin(scheme + "://" + hostOrUrl + "/");
}

std::string SchemeOf(const std::string& origin)
{
    return origin.substr(0, origin.find(':'));
}

// Links and attribute values stand in HTML: "&amp;" there is "&" on the wire.
std::string Resolve(const std::string& origin, std::string_view link)
{
    return origin + DecodeHtmlEntities(link);
}

} // namespace

YahooWebClient::YahooWebClient(const PwSink& sink, std::string account, std::string userName,
                               std::string password, int timeOutSeconds, YahooEndpoints endpoints)
    : reporter_(sink, std::move(account)), session_(timeOutSeconds, kUserAgent),
      userName_(std::move(userName)), password_(std::move(password)),
      endpoints_(std::move(endpoints))
{
}

std::string YahooWebClient::ChallengeHash(const std::string& password, const std::string& challenge)
{
    return Md5Hex(Md5Hex(password) + challenge);
}

std::string YahooWebClient::UrlEncode(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

int YahooWebClient::Fail(int code, std::string why)
{
    // The log-in URL carries the password's hash, and an error names the URL it failed on:
    // the user is shown the reason, never what stands for the password.
    HideSecret(why, loginHash_);
    if (error_.empty())
        error_ = std::move(why);
    return code;
}

int YahooWebClient::Check(int32_t& newCount)
{
    newCount = 0;
    // The identifiers file first: a second check of the same account must not log in.
    if (reporter_.Open() != PW_WEBMAIL_SUCCESS)
        return Fail(PW_WEBMAIL_FAILED, reporter_.Error());

    Page entry;
    int result = Fetch(endpoints_.entryUrl, entry);
    if (result == PW_WEBMAIL_SUCCESS)
        result = LogIn(entry);
    if (result != PW_WEBMAIL_SUCCESS)
        return result;

    layout_ = ChooseLayout();
    const int walk = WalkFolders();
    newCount = reporter_.Count();
    if (frontGone_)
        return walk;
    const int logout = LogOut();
    // The walk's failure says more than the log-out's.
    return walk != PW_WEBMAIL_SUCCESS ? walk : logout;
}

int YahooWebClient::Fetch(const std::string& url, Page& page)
{
    WebSession::Request request;
    request.url = url;
    const WebSession::Response response = session_.Perform(request);
    if (response.code != PW_WEBMAIL_SUCCESS)
        return Fail(response.code, response.message);
    page.url = response.finalUrl;
    page.body = response.body;
    if (response.status == 200) {
        // The page ends at its first zero byte, as any text does here.
        page.body.resize(page.body.find('\0') == std::string::npos ? page.body.size()
                                                                   : page.body.find('\0'));
        return PW_WEBMAIL_SUCCESS;
    }
    const std::string why =
        "The server answered " + std::to_string(response.status) + " for " + url;
    // The provider answers a request of a session it does not accept with 400.
    return Fail(response.status == 400 ? PW_WEBMAIL_LOGIN_REFUSED : PW_WEBMAIL_FAILED, why);
}

int YahooWebClient::LogIn(const Page& entry)
{
    const PageScanner scanner(entry.body);
    const auto form = scanner.Form("login_form");
    const auto tag = form ? PageScanner::StartTag(*form) : std::nullopt;
    if (!tag || !PageScanner::Attribute(*tag, "action"))
        return Fail(PW_WEBMAIL_FAILED, "The entry page has no log-in form.");
    const PageScanner formScanner(*form);
    size_t pos = 0;
    const auto input = formScanner.NextInput(pos, ".challenge");
    const auto value = input ? PageScanner::Attribute(*input, "value") : std::nullopt;
    if (!value)
        return Fail(PW_WEBMAIL_FAILED, "The log-in form has no challenge.");
    const std::string challenge = DecodeHtmlEntities(*value);

    const std::string loginOrigin =
        OriginOf(endpoints_.loginHost, SchemeOf(WebSession::Origin(entry.url)));
    if (loginOrigin.empty())
        return Fail(PW_WEBMAIL_FAILED,
                    "The log-in host \"" + endpoints_.loginHost + "\" is not a host name.");
    loginHash_ = UrlEncode(ChallengeHash(password_, challenge));
    const std::string url = loginOrigin + "/config/login?&login=" + UrlEncode(userName_) +
                            "&passwd=" + loginHash_ + "&.challenge=" + UrlEncode(challenge) +
                            "&.src=ym&.hash=1&.js=1&.md5=1";
    Page start;
    const int result = Fetch(url, start);
    if (result != PW_WEBMAIL_SUCCESS)
        return result;
    const std::string finalOrigin = WebSession::Origin(start.url);
    if (finalOrigin == loginOrigin)
        return Fail(PW_WEBMAIL_LOGIN_REFUSED, "The provider refused the log-in.");
    mailOrigin_ = finalOrigin;
    startPage_ = std::move(start.body);
    return PW_WEBMAIL_SUCCESS;
}

YahooWebClient::Layout YahooWebClient::ChooseLayout() const
{
    auto shows = [&](const std::string& suffix) {
        return !suffix.empty() && startPage_.find(userName_ + suffix) != std::string::npos;
    };
    if (shows(endpoints_.suffix1) || shows(endpoints_.suffix2))
        return Layout::kTable;
    if (shows(endpoints_.suffix3))
        return Layout::kUnsupported;
    if (shows(endpoints_.mailDomain) && !shows(endpoints_.mailDomain + "."))
        return Layout::kRows;
    return Layout::kUnsupported;
}

int YahooWebClient::WalkFolders()
{
    const PageScanner scanner(startPage_);
    const std::vector<std::string> links = scanner.DistinctLinks(kFolderPrefix);
    if (links.empty())
        return Fail(PW_WEBMAIL_FAILED, "The start page links no folder.");
    int walk = PW_WEBMAIL_SUCCESS;
    for (const std::string& link : links) {
        // A folder without an unread count beside its link has nothing to read.
        if (!scanner.CountFollows(link, kFolderPrefix))
            continue;
        const int result = VisitFolder(link);
        if (walk == PW_WEBMAIL_SUCCESS)
            walk = result;
        if (frontGone_ || stopped_)
            return PW_WEBMAIL_FAILED;
        // A folder whose page is not as expected is passed over; a server that does not
        // answer, or refuses us, will not answer the next folder either.
        if (result != PW_WEBMAIL_SUCCESS && result != PW_WEBMAIL_FAILED)
            break;
    }
    return walk;
}

int YahooWebClient::VisitFolder(const std::string& link)
{
    Page page;
    int result = Fetch(Resolve(mailOrigin_, link), page);
    if (result != PW_WEBMAIL_SUCCESS)
        return result;
    const std::string folderOrigin = WebSession::Origin(page.url);

    std::string deletePath;
    std::string crumb;
    {
        const PageScanner scanner(page.body);
        const auto form = scanner.Form("messageList");
        const auto tag = form ? PageScanner::StartTag(*form) : std::nullopt;
        const auto action = tag ? PageScanner::Attribute(*tag, "action") : std::nullopt;
        size_t pos = 0;
        const auto input = form ? PageScanner(*form).NextInput(pos, ".crumb") : std::nullopt;
        const auto value = input ? PageScanner::Attribute(*input, "value") : std::nullopt;
        if (!action || !value)
            return Fail(PW_WEBMAIL_FAILED,
                        "The folder page " + page.url + " has no message list to read.");
        deletePath = DecodeHtmlEntities(*action);
        crumb = DecodeHtmlEntities(*value);
        // The unread-only view, when the folder offers one.
        pos = 0;
        if (const auto unread = scanner.NextLink(pos, kUnreadViewPrefix)) {
            Page view;
            result = Fetch(Resolve(folderOrigin, *unread), view);
            if (result != PW_WEBMAIL_SUCCESS)
                return result;
            page = std::move(view);
        }
    }

    std::string deleteList;
    result = ReadList(page, folderOrigin, deleteList);
    if (result == PW_WEBMAIL_SUCCESS && !stopped_ && !frontGone_) {
        for (const std::string& next : PageScanner(page.body).DistinctLinks(kPagePrefix)) {
            Page more;
            result = Fetch(Resolve(folderOrigin, next), more);
            if (result == PW_WEBMAIL_SUCCESS)
                result = ReadList(more, folderOrigin, deleteList);
            if (result != PW_WEBMAIL_SUCCESS || stopped_ || frontGone_)
                break;
        }
    }

    // The messages the rules delete were recorded as handled: delete them now, even when a
    // later page failed, or they would stay on the server for good.
    if (deleteList.empty() || frontGone_)
        return result;
    WebSession::Request post;
    post.method = "POST";
    post.url = deletePath.rfind("http://", 0) == 0 || deletePath.rfind("https://", 0) == 0
                   ? deletePath
                   : mailOrigin_ + (deletePath.rfind('/', 0) == 0 ? "" : "/") + deletePath;
    post.contentType = "application/x-www-form-urlencoded";
    post.body = ".crumb=" + UrlEncode(crumb) + "&DEL=1" + deleteList;
    const WebSession::Response answer = session_.Perform(post);
    if (answer.code != PW_WEBMAIL_SUCCESS)
        return result == PW_WEBMAIL_SUCCESS ? Fail(answer.code, answer.message) : result;
    if (answer.status >= 400 && result == PW_WEBMAIL_SUCCESS)
        return Fail(PW_WEBMAIL_FAILED, "The server answered " + std::to_string(answer.status) +
                                           " to the delete request.");
    return result;
}

int YahooWebClient::ReadList(const Page& page, const std::string& folderOrigin,
                             std::string& deleteList)
{
    if (layout_ == Layout::kUnsupported)
        return Fail(PW_WEBMAIL_FAILED, "The start page shows an address whose message lists "
                                       "this program cannot read.");
    const PageScanner scanner(page.body);
    const auto form = scanner.Form("messageList");
    if (!form)
        return Fail(PW_WEBMAIL_FAILED, "The page " + page.url + " has no message list.");
    const PageScanner list(*form);
    const bool rows = layout_ == Layout::kRows;
    for (ListedMessage& m : rows ? list.RowMessages() : list.TableMessages()) {
        // An identifier the MIDS file cannot hold could never be recognised again: such a
        // message would come back at every check, so it is passed over, and the rest of the
        // list is still read.
        if (m.id.size() > CMidsFile::kMaxIdentifierLength)
            continue;
        switch (reporter_.Consider(m.id, m.subject, m.sender)) {
        case WebMailReporter::Decision::kKnown:
        case WebMailReporter::Decision::kHide:
            continue;
        case WebMailReporter::Decision::kFailed:
            stopped_ = true;
            return Fail(PW_WEBMAIL_FAILED, reporter_.Error());
        case WebMailReporter::Decision::kDelete:
            deleteList += "&Mid=" + UrlEncode(DecodeHtmlEntities(m.id));
            continue;
        case WebMailReporter::Decision::kReport:
            break;
        }
        // A row without a letter link cannot be opened: recorded, never listed.
        if (rows && m.link.empty())
            continue;
        WebMailReporter::Message record;
        record.url = m.link.empty() ? std::string() : Resolve(folderOrigin, m.link);
        record.size = m.size;
        record.date = m.date;
        record.reserved = rows ? "Reserved " : "Reserved";
        record.attachment = m.attachment ? "Yes" : "No";
        switch (reporter_.Report(m.id, record, m.subject, m.sender)) {
        case PW_SINK_HANDLED:
            break;
        case PW_SINK_NOT_STORED:
            stopped_ = true;
            return Fail(PW_WEBMAIL_FAILED, "A new message could not be stored.");
        default:
            frontGone_ = true;
            return Fail(PW_WEBMAIL_FAILED, "The program is shutting down.");
        }
    }
    return PW_WEBMAIL_SUCCESS;
}

int YahooWebClient::LogOut()
{
    size_t pos = 0;
    const auto link = PageScanner(startPage_).NextLink(pos, kLogoutPrefix);
    if (!link)
        return Fail(PW_WEBMAIL_FAILED, "The start page has no log-out link.");
    Page page;
    int result = Fetch(Resolve(mailOrigin_, *link), page);
    if (result != PW_WEBMAIL_SUCCESS)
        return result;
    pos = 0;
    if (const auto next = PageScanner(page.body).NextLink(pos, kLoginLogoutPrefix)) {
        Page done;
        result = Fetch(Resolve(WebSession::Origin(page.url), *next), done);
    }
    return result;
}
