#pragma once

#include "pagescanner.h"
#include "webmailendpoints.h"
#include "webmailreporter.h"
#include "websession.h"

#include <cstdint>
#include <string>

// The web-mail client of the category "Yahoo": the provider offers no mail protocol, so the
// client reads its pages as a browser would. One check:
//
//   1. fetch the entry page (EntryUrl: http or https, its port honoured);
//   2. log in: the page's form named "login_form" (with an action) carries the ".challenge"
//      input; the password hash is md5hex(md5hex(password) + challenge); the log-in URL on
//      LoginHost carries user, hash and challenge URL-encoded. A log-in whose redirects end
//      on LoginHost again was refused (2); elsewhere, that origin is the mail host and the
//      page there the start page;
//   3. choose the message-list layout by the address the start page shows: the user name
//      followed by Suffix1 or Suffix2 (table layout), Suffix3 (not read: 5) or MailDomain not
//      followed by "." (row layout);
//   4. visit each folder linked from the start page ("/ym/ShowFolder?YY=", at most 10
//      distinct links) whose link is followed by an unread count in parentheses: its unread
//      view, then at most 10 further pages; each unread message goes through the reporter
//      (MIDS, filter rules, the record through the sink); the messages the rules delete are
//      posted in one delete request per folder, after all of its pages were read. A message
//      whose identifier is longer than the MIDS file holds is passed over;
//   5. log out, also after a failed walk.
//
// Cookies live in the session's in-memory cookie engine for the length of the check.
// Results are PW_WEBMAIL_*: the first failure of the walk (a folder whose page lacks its form
// is passed over with 5, a time-out, HTTP error or refusal ends the walk), else the log-out's.
// A 400 answer to any page is a refused log-in (2). The sink's FRONT_GONE ends the check at
// once (5, no log-out); NOT_STORED ends the walk (5) and the check still logs out.
//
// One object per check, on the check's thread.
class YahooWebClient
{
public:
    YahooWebClient(const PwSink& sink, std::string account, std::string userName,
                   std::string password, int timeOutSeconds, YahooEndpoints endpoints);

    // Runs the check. `newCount` is the number of records the sink took.
    int Check(int32_t& newCount);

    // Why the check failed, in words (empty after success). The password's hash, which the
    // log-in URL carries, reads as kHiddenSecret (hiddensecret.h) in it.
    const std::string& Error() const { return error_; }

    // md5hex(md5hex(password) + challenge), 32 lower-case hexadecimal digits.
    static std::string ChallengeHash(const std::string& password, const std::string& challenge);

    // RFC 3986 2.3: everything but the unreserved characters percent-encoded.
    static std::string UrlEncode(const std::string& text);

private:
    enum class Layout { kRows, kTable, kUnsupported };

    struct Page {
        std::string url; // final URL after redirects
        std::string body;
    };

    int Fetch(const std::string& url, Page& page);
    int LogIn(const Page& entry);
    Layout ChooseLayout() const;
    int WalkFolders();
    int VisitFolder(const std::string& link);
    int ReadList(const Page& page, const std::string& folderOrigin, std::string& deleteList);
    int LogOut();
    int Fail(int code, std::string why);

    WebMailReporter reporter_;
    WebSession session_;
    std::string userName_;
    std::string password_;
    YahooEndpoints endpoints_;

    std::string mailOrigin_; // "scheme://host:port" of the start page
    std::string startPage_;
    Layout layout_ = Layout::kUnsupported;
    bool frontGone_ = false;
    bool stopped_ = false;  // the sink could not store a record: read no further
    std::string loginHash_; // URL-encoded, as the log-in URL carries it
    std::string error_;
};
