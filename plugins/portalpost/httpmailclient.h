#pragma once

#include "digestauth.h"
#include "postwatch_plugin.h"
#include "webmailendpoints.h"
#include "websession.h"
#include "xmlresponsereader.h"

#include <cstdint>
#include <string>
#include <vector>

class WebMailReporter;

// Checks one web-mail account of the "Hotmail" category over HTTPMail: WebDAV PROPFIND
// requests (RFC 4918) on the account's gateway with Digest authentication (RFC 7616).
//
// A check asks the gateway for the folder root, lists the folders, keeps at most
// kMaxFolders of those with unread mail whose special name is empty, "inbox" or "msnpromo"
// (never sent items, bulk mail or deleted items), and remembers the deleted-items folder. In
// each kept folder it reads the messages, examining unread ones up to the folder's unread
// count (read ones do not use up that budget), and hands each to the WebMailReporter: new
// ones are recorded in the account's MIDS file, filtered, then reported (after a GET that
// looks for an attachment; the GETs of a folder run on a few parallel connections), moved to
// the deleted-items folder, or hidden. When the program cannot take a record (the sink
// answers PW_SINK_NOT_STORED or PW_SINK_FRONT_GONE) the check ends and every message not yet
// reported is taken back out of the MIDS file, so it comes again at the next check.
//
// Repetitions are bounded per request: at most WebSession::kMaxRedirects redirects (never
// from https to http, never to another scheme), kMaxChallenges answered 401 challenges,
// and one retry after any other unexpected status. Attachment probes are extras whose
// failure is passed over, but once one ran out of time no more are sent for the folder. A
// move that runs out of time ends the check with the time-out: the messages before it are
// reported, it and the ones after it are taken back out of the MIDS file. Authorization
// goes only to the host whose challenge it answers: once that host has challenged, later
// PROPFINDs to it answer the same nonce at once with the next nonce count (RFC 7616 3.4),
// and a fresh challenge is answered again.
//
// Result codes are PW_WEBMAIL_*: 1 time-out, 2 log-in refused (401 with "Bad Password",
// 503, or the Digest answer refused kMaxChallenges times), 3 another HTTP-layer error, 4
// success, 5 anything else (no folder root, malformed answer, MIDS file unusable, a refused
// redirect, too many repetitions). Message() says what happened in readable words.
//
// One object per check, on the check's thread.
class HttpMailClient
{
public:
    static constexpr size_t kMaxFolders = 19;
    static constexpr int kMaxChallenges = 3;
    static constexpr const char* kUserAgent =
        "Outlook-Express/5.5 (MSIE 5.01; Windows NT 5.0; TmstmpExt)";

    enum class Body { kRoot, kFolders, kMessages };

    HttpMailClient(const PwSink& sink, std::string account, std::string userName,
                   std::string password, int timeOutSeconds, HotmailEndpoints endpoints);

    // Runs the check. *newCount is the number of records the sink took, also when the check
    // fails part-way (those messages are filed and were announced).
    int Check(int32_t& newCount);

    const std::string& Message() const { return message_; }
    const WebSession& Session() const { return session_; }
    // For the benchmark's comparison run (see WebSession).
    void SetOneConnectionPerRequest(bool on) { session_.SetOneConnectionPerRequest(on); }

    // The PROPFIND body of a kind, byte for byte (CR LF between lines, none after the last).
    static std::string PropfindBody(Body body, const std::string& namespaceUri);

private:
    struct Folder {
        std::string href;
        std::string special;
        int64_t unread = 0;
    };

    int Propfind(const std::string& url, Body body, std::string& answerUrl,
                 std::vector<XmlResponseReader::Response>& responses);
    // A request outside PROPFIND (MOVE; GET on a 401): answers a Digest challenge, does not
    // follow redirects.
    WebSession::Response SendWithChallenge(WebSession::Request request);
    int CheckFolder(const Folder& folder, WebMailReporter& reporter, bool& stop);
    int Fail(int code, std::string message);

    WebSession session_;
    DigestAuth digest_;
    std::string challengeOrigin_; // the host whose challenge digest_ holds
    PwSink sink_;
    std::string account_;
    std::string digestUser_;
    std::string password_;
    HotmailEndpoints endpoints_;
    std::string deletedItems_;
    std::string message_;
};
