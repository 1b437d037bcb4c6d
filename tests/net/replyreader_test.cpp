// The reply readers over scripted bytes in memory: POP3 and IMAP framing, failures, the cap,
// and the same result for every split of the input.

#include "memorytransport.h"
#include "neterror.h"
#include "replyreader.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using Kind = Pop3ReplyParser::Kind;

namespace
{

std::string Literal(const std::string& bytes)
{
    return "{" + std::to_string(bytes.size()) + "}\r\n" + bytes;
}

struct Pop3Row {
    const char* name;
    Kind kind;
    std::string input;
    std::size_t chunk;
    MemoryTransport::AtEnd atEnd;
    bool unstuff;
    int rc;
    int code;         // last error after the read (0: not checked)
    std::string text; // Pop3Reply::Text() when rc >= 0, LastResponse() when rc <= 0
};

const MemoryTransport::AtEnd kClose = MemoryTransport::AtEnd::Close;
const MemoryTransport::AtEnd kSilence = MemoryTransport::AtEnd::Silence;

const std::vector<Pop3Row>& Pop3Rows()
{
    static const std::vector<Pop3Row> rows = {
        {"greeting", Kind::SingleLine, "+OK ready\r\n", 0, kSilence, true, 1, 0, "+OK ready"},
        {"greeting_lower_case", Kind::SingleLine, "+ok ready\r\n", 0, kSilence, true, 1, 0,
         "+ok ready"},
        {"negative", Kind::SingleLine, "-ERR [AUTH] bad password\r\n", 0, kSilence, true, 0,
         neterr::kNegativeReply, "-ERR [AUTH] bad password"},
        {"multi_line_in_one_byte_chunks", Kind::MultiLine,
         "+OK 2 messages\r\n1 aaa\r\n2 bbb\r\n.\r\n", 1, kSilence, true, 1, 0,
         "+OK 2 messages\r\n1 aaa\r\n2 bbb"},
        {"multi_line_empty_list", Kind::MultiLine, "+OK\r\n.\r\n", 0, kSilence, true, 1, 0, "+OK"},
        {"dot_unstuffed", Kind::MultiLine, "+OK\r\n..hidden\r\n.x\r\n.\r\n", 0, kSilence, true, 1,
         0, "+OK\r\n.hidden\r\nx"},
        {"dot_kept_without_unstuffing", Kind::MultiLine, "+OK\r\n..hidden\r\n.\r\n", 0, kSilence,
         false, 1, 0, "+OK\r\n..hidden"},
        {"terminator_only_at_line_start", Kind::MultiLine, "+OK\r\nsee\r\n.\r\nnot\r\n.\r\n", 0,
         kSilence, true, 1, 0, "+OK\r\nsee"},
        {"bare_line_feeds", Kind::MultiLine, "+OK\nline\n.\n", 0, kSilence, true, 1, 0,
         "+OK\r\nline"},
        {"negative_multi_line_is_one_line", Kind::MultiLine, "-ERR no such message\r\n", 0,
         kSilence, true, 0, neterr::kNegativeReply, "-ERR no such message"},
        {"closed_mid_reply_fails_at_once", Kind::MultiLine, "+OK\r\npartial", 0, kClose, true, -1,
         neterr::kClosed, "+OK\r\npartial"},
        {"closed_before_reply", Kind::SingleLine, "", 0, kClose, true, -1, neterr::kClosed, ""},
        {"silence_mid_line_times_out", Kind::SingleLine, "+OK no end", 0, kSilence, true, -1,
         neterr::kTimedOut, "+OK no end"},
        {"silence_mid_multi_line_times_out", Kind::MultiLine, "+OK\r\nline\r\n", 3, kSilence, true,
         -1, neterr::kTimedOut, "+OK\r\nline\r\n"},
    };
    return rows;
}

POSTWATCH_ROW_PRINTS_NAME(Pop3Row)

class Pop3Reader : public ::testing::TestWithParam<Pop3Row>
{
};

TEST_P(Pop3Reader, ReadsOneReply)
{
    const Pop3Row& row = GetParam();
    MemoryTransport transport(row.input, row.chunk, row.atEnd);
    ReplyReader reader(transport, 1s);
    ClearNetError();
    Pop3Reply reply;
    EXPECT_EQ(reader.ReadReply(row.kind, reply, row.unstuff), row.rc);
    if (row.rc == 1)
        EXPECT_EQ(reply.Text(), row.text);
    else
        EXPECT_EQ(reader.LastResponse(), row.text);
    EXPECT_EQ(LastNetErrorCode(), row.code) << LastNetError().message;
}

INSTANTIATE_TEST_SUITE_P(Table, Pop3Reader, ::testing::ValuesIn(Pop3Rows()),
                         [](const auto& info) { return std::string(info.param.name); });

struct ImapRow {
    const char* name;
    std::string tag;
    std::string input;
    MemoryTransport::AtEnd atEnd;
    int rc;
    int code;
    ImapStatus status;
    std::vector<std::string> responses; // texts of the untagged responses
    std::vector<std::string> literals;  // all literals, in order
};

const std::vector<ImapRow>& ImapRows()
{
    static const std::vector<ImapRow> rows = {
        {"ok", "A000 OK", "A000 OK done\r\n", kSilence, 1, 0, ImapStatus::Ok, {}, {}},
        {"greeting_ahead_of_reply",
         "A000 OK",
         "* OK ready\r\n* CAPABILITY IMAP4rev1\r\nA000 OK done\r\n",
         kSilence,
         1,
         0,
         ImapStatus::Ok,
         {"* OK ready", "* CAPABILITY IMAP4rev1"},
         {}},
        {"status_word_any_case",
         "A007",
         "A007 ok fetched\r\n",
         kSilence,
         1,
         0,
         ImapStatus::Ok,
         {},
         {}},
        {"tagged_no_ends_at_once",
         "A004 OK",
         "A004 NO [NONEXISTENT] no inbox\r\n",
         kSilence,
         0,
         neterr::kNegativeReply,
         ImapStatus::No,
         {},
         {}},
        {"tagged_bad",
         "A004 OK",
         "A004 BAD syntax\r\n",
         kSilence,
         0,
         neterr::kNegativeReply,
         ImapStatus::Bad,
         {},
         {}},
        {"untagged_no_with_ok_is_success",
         "A001 OK",
         "* NO disk nearly full\r\nA001 OK in\r\n",
         kSilence,
         1,
         0,
         ImapStatus::Ok,
         {"* NO disk nearly full"},
         {}},
        {"untagged_no_and_bad_with_ok_fail",
         "A001 OK",
         "* NO a\r\n* BAD b\r\nA001 OK\r\n",
         kSilence,
         0,
         neterr::kNegativeReply,
         ImapStatus::Ok,
         {"* NO a", "* BAD b"},
         {}},
        {"literal_holding_the_tag_does_not_end",
         "A007 OK",
         "* 1 FETCH (UID 5 RFC822.HEADER " + Literal("Subject: x\r\nA007 NO\r\n* BAD\r\n") +
             ")\r\nA007 OK done\r\n",
         kSilence,
         1,
         0,
         ImapStatus::Ok,
         {"* 1 FETCH (UID 5 RFC822.HEADER {28})"},
         {"Subject: x\r\nA007 NO\r\n* BAD\r\n"}},
        {"non_synchronising_literal",
         "A007 OK",
         "* 1 FETCH (BODY[] {3+}\r\nabc BODY[HEADER] {0}\r\n)\r\nA007 OK\r\n",
         kSilence,
         1,
         0,
         ImapStatus::Ok,
         {"* 1 FETCH (BODY[] {3+} BODY[HEADER] {0})"},
         {"abc", ""}},
        {"other_tags_are_responses",
         "A007 OK",
         "A006 OK size\r\nA0070 OK\r\nA007 OK\r\n",
         kSilence,
         1,
         0,
         ImapStatus::Ok,
         {"A006 OK size", "A0070 OK"},
         {}},
        {"huge_literal_refused_at_once",
         "A008 OK",
         "* 1 FETCH (BODY[] {4294967295}\r\n",
         kSilence,
         -1,
         neterr::kTooLarge,
         ImapStatus::None,
         {},
         {}},
        {"closed_inside_literal",
         "A007 OK",
         "* 1 FETCH (BODY[] {10}\r\nabc",
         kClose,
         -1,
         neterr::kClosed,
         ImapStatus::None,
         {},
         {}},
        {"silence_before_tag",
         "A005 OK",
         "* STATUS INBOX (MESSAGES 3)\r\n",
         kSilence,
         -1,
         neterr::kTimedOut,
         ImapStatus::None,
         {},
         {}},
        {"unknown_completion_word",
         "A007 OK",
         "A007 MAYBE\r\n",
         kSilence,
         -1,
         neterr::kProtocol,
         ImapStatus::None,
         {},
         {}},
    };
    return rows;
}

POSTWATCH_ROW_PRINTS_NAME(ImapRow)

class ImapReader : public ::testing::TestWithParam<ImapRow>
{
};

TEST_P(ImapReader, ReadsUpToTheTaggedCompletion)
{
    const ImapRow& row = GetParam();
    MemoryTransport transport(row.input, 0, row.atEnd);
    ReplyReader reader(transport, 1s);
    ClearNetError();
    ImapReply reply;
    EXPECT_EQ(reader.ReadTagged(row.tag, reply), row.rc);
    EXPECT_EQ(LastNetErrorCode(), row.code) << LastNetError().message;
    if (row.rc < 0)
        return;
    EXPECT_EQ(reply.status, row.status);
    std::vector<std::string> texts;
    std::vector<std::string> literals;
    for (const ImapResponse& r : reply.responses) {
        texts.push_back(r.text);
        literals.insert(literals.end(), r.literals.begin(), r.literals.end());
    }
    EXPECT_EQ(texts, row.responses);
    EXPECT_EQ(literals, row.literals);
}

INSTANTIATE_TEST_SUITE_P(Table, ImapReader, ::testing::ValuesIn(ImapRows()),
                         [](const auto& info) { return std::string(info.param.name); });

// Every reply split into two deliveries at every byte (CR and LF included) reads the same as
// the whole reply.
TEST(ReplySplits, EverySplitGivesTheSameResult)
{
    const std::string pop3 = "+OK 3 lines\r\n..a\r\nb.\r\n\r\n.\r\n+OK next\r\n";
    const std::string imap = "* 2 EXISTS\r\n* 1 FETCH (BODY[] " + Literal("A9 OK\r\n)\r\n") +
                             " UID 9)\r\nA9 OK done\r\n* 3 EXISTS\r\n";
    for (std::size_t cut = 0; cut <= pop3.size(); ++cut) {
        MemoryTransport transport(pop3.substr(0, cut));
        transport.Add(pop3.substr(cut));
        ReplyReader reader(transport, 1s);
        Pop3Reply reply;
        ASSERT_EQ(reader.ReadReply(Kind::MultiLine, reply), 1) << "cut at " << cut;
        EXPECT_EQ(reply.Text(), "+OK 3 lines\r\n.a\r\nb.\r\n") << "cut at " << cut;
        ASSERT_EQ(reader.ReadReply(Kind::SingleLine, reply), 1) << "cut at " << cut;
        EXPECT_EQ(reply.status, "+OK next");
    }
    for (std::size_t cut = 0; cut <= imap.size(); ++cut) {
        MemoryTransport transport(imap.substr(0, cut));
        transport.Add(imap.substr(cut));
        ReplyReader reader(transport, 1s);
        ImapReply reply;
        ASSERT_EQ(reader.ReadTagged("A9 OK", reply), 1) << "cut at " << cut;
        ASSERT_EQ(reply.responses.size(), 2u);
        EXPECT_EQ(reply.responses[1].text, "* 1 FETCH (BODY[] {10} UID 9)");
        ASSERT_EQ(reply.responses[1].literals.size(), 1u);
        EXPECT_EQ(reply.responses[1].literals[0], "A9 OK\r\n)\r\n");
        EXPECT_EQ(reply.statusText, "done");
        EXPECT_EQ(reader.Buffered() + transport.Unread(), std::string("* 3 EXISTS\r\n").size());
    }
}

// Replies larger than any fixed buffer are read whole; one beyond the cap fails clearly
// instead of timing out.
TEST(ReplySizes, LargeRepliesAreReadWholeAndTheCapIsClear)
{
    struct Row {
        const char* name;
        std::size_t bodyBytes;
        int rc;
        int code;
    } rows[] = {
        {"top_over_ten_thousand_bytes", 12000, 1, 0},
        {"one_megabyte_line", 1 << 20, 1, 0},
        {"twenty_megabytes_hits_the_cap", 20u << 20, -1, neterr::kTooLarge},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string body(row.bodyBytes, 'x');
        MemoryTransport transport("+OK\r\n" + body + "\r\n.\r\n");
        ReplyReader reader(transport, 1s);
        ClearNetError();
        Pop3Reply reply;
        EXPECT_EQ(reader.ReadReply(Kind::MultiLine, reply), row.rc);
        EXPECT_EQ(LastNetErrorCode(), row.code);
        if (row.rc == 1)
            EXPECT_EQ(reply.body.size(), row.bodyBytes + 2);
        else
            EXPECT_NE(LastNetError().message.find("larger than"), std::string::npos);
        EXPECT_LE(reader.LastResponse().size(), 64u * 1024);
    }
}

// After the go-ahead for TLS, bytes already sent in plain text are an attack (RFC 2595
// section 3.1): the upgrade is refused and the connection dropped.
TEST(ReplyStartTls, PlainTextAfterTheGoAheadIsRefused)
{
    struct Row {
        const char* name;
        std::vector<std::string> segments;
        bool ok;
    } rows[] = {
        {"clean_go_ahead", {"+OK begin TLS\r\n"}, true},
        {"injection_in_the_same_segment", {"+OK begin\r\n+OK injected\r\n"}, false},
        {"next_segment_comes_through_tls", {"+OK begin\r\n", "+OK inside\r\n"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MemoryTransport transport;
        for (const auto& s : row.segments)
            transport.Add(s);
        ReplyReader reader(transport, 1s);
        Pop3Reply reply;
        ASSERT_EQ(reader.ReadReply(Kind::SingleLine, reply), 1);
        ClearNetError();
        EXPECT_EQ(reader.StartTls(), row.ok);
        EXPECT_EQ(transport.IsOpen(), row.ok);
        EXPECT_EQ(transport.TlsStarts(), row.ok ? 1 : 0);
        if (!row.ok)
            EXPECT_EQ(LastNetErrorCode(), neterr::kStartTlsInjection);
    }
}

TEST(ReplyContinuation, ContinuationRequestEndsTheRead)
{
    MemoryTransport transport("+ send the literal\r\nA001 OK\r\n");
    ReplyReader reader(transport, 1s);
    ImapReply reply;
    ASSERT_EQ(reader.ReadContinuation("A001", reply), 1);
    EXPECT_TRUE(reply.continuation);
    ASSERT_EQ(reader.ReadTagged("A001 OK", reply), 1);
    EXPECT_FALSE(reply.continuation);
    EXPECT_EQ(reply.status, ImapStatus::Ok);
}

} // namespace
