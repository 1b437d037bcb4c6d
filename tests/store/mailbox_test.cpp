#include "mailboxfile.h"
#include "messageid.h"
#include "passcipher.h"
#include "support/filefaults.h"
#include "support/tempdir.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unordered_set>

namespace
{

std::string Le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

uint32_t At32(const std::string& bytes, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

std::string Header(uint32_t count)
{
    std::string h(2048, '\0');
    std::memcpy(h.data(), "KORAVELPIGEONPOST", 17);
    h.replace(1024, 4, Le32(count));
    return h;
}

// A record laid out by hand from the format table: T, twelve lengths, 12 zero bytes, the
// items (Read in 4 bytes; fields 0 1 3 4 5 6 8 9 10 11; enciphered preview), padding.
std::string Record(const StoredMessage& m)
{
    std::string preview = m.preview;
    CPassCipher(kMailBoxContainer, kMailBoxPass).Protect(preview.data(), preview.size());
    std::string read = m.read.substr(0, 4);
    read.resize(4, '\0');
    const std::string items[12] = {read,   m.messageId,  m.mailType, m.sender, m.subject, m.date,
                                   m.size, m.attachment, m.uid,      m.folder, m.store,   preview};
    std::string lengths, data;
    for (const auto& item : items) {
        lengths += Le32(static_cast<uint32_t>(item.size()));
        data += item;
    }
    size_t total = (data.size() + 64 + 63) / 64 * 64;
    std::string r = Le32(static_cast<uint32_t>(total)) + lengths + std::string(12, '\0') + data;
    r.resize(total, '\0');
    return r;
}

StoredMessage Sample(int i, const std::string& type = "POP3")
{
    StoredMessage m;
    m.messageId = "00000000-0000-4000-8000-" + std::string(12 - std::to_string(i).size(), '0') +
                  std::to_string(i);
    m.mailType = type;
    m.read = "No";
    m.sender = "Sender " + std::to_string(i) + " <s" + std::to_string(i) + "@example.org>";
    m.subject = "Subject number " + std::to_string(i);
    m.date = "2026-12-07 12:00";
    m.size = std::to_string(1000 + i);
    m.preview = "Preview text of message " + std::to_string(i);
    m.attachment = i % 2 ? "Yes" : "No";
    m.uid = type == "POP3" || type == "IMAP4" ? "uid-" + std::to_string(i) : "";
    m.folder = type == "Exchange(MAPI)" ? "Inbox" : "";
    m.store = type == "Exchange(MAPI)" ? "Mailbox" : "";
    return m;
}

std::vector<StoredMessage> ReadAll(CMailBoxFile& box, bool preview = true)
{
    std::vector<StoredMessage> out;
    box.Rewind();
    while (box.Next()) {
        StoredMessage m;
        EXPECT_EQ(box.ReadCurrent(m, true, preview), 1) << box.LastError();
        out.push_back(m);
    }
    return out;
}

bool Same(const StoredMessage& a, const StoredMessage& b)
{
    return a.messageId == b.messageId && a.mailType == b.mailType && a.read == b.read &&
           a.sender == b.sender && a.subject == b.subject && a.date == b.date && a.size == b.size &&
           a.preview == b.preview && a.attachment == b.attachment && a.uid == b.uid &&
           a.folder == b.folder && a.store == b.store;
}

// ---- byte layout ------------------------------------------------------------------------

TEST(MailBoxLayout, GoldenBytes)
{
    const std::string id36 = "6f9619ff-8b86-4d11-b42d-00c04fc964ff";
    MessageRecord empty;
    empty.attachment = "No";
    MessageRecord full{"Ann <ann@example.org>",
                       "Hello",
                       "Mon 7 Dec 2026",
                       "2 KB",
                       std::string("Body\0with zero\r\n", 17),
                       "Yes",
                       "UID-1",
                       "acct",
                       "",
                       ""};

    // The smallest POP3 record: 4 + 36 + 4 + 2 = 46 bytes of items, T = 128.
    std::string minimal = Le32(128) + Le32(4) + Le32(36) + Le32(4) + std::string(16, '\0') +
                          Le32(2) + std::string(16, '\0') + std::string(12, '\0') + "No" +
                          std::string(2, '\0') + id36 + "POP3" + "No";
    minimal.resize(128, '\0');

    std::string preview = full.preview;
    CPassCipher(kMailBoxContainer, kMailBoxPass).Protect(preview.data(), preview.size());
    std::string items = std::string("No\0\0", 4) + id36 + "IMAP4" + full.sender + full.subject +
                        full.date + full.size + full.attachment + full.uid + preview;
    std::string fullBytes = Le32(192);
    for (size_t n : {4, 36, 5, 21, 5, 14, 4, 3, 5, 0, 0, 17})
        fullBytes += Le32(static_cast<uint32_t>(n));
    fullBytes += std::string(12, '\0') + items;
    fullBytes.resize(192, '\0');

    struct Row {
        const char* name;
        std::string type;
        MessageRecord record;
        std::string expected;
    } rows[] = {
        {"minimal-pop3-is-128", "POP3", empty, minimal},
        {"full-imap4-enciphered-preview", "IMAP4", full, fullBytes},
    };
    for (const auto& r : rows) {
        TempDir dir;
        CMailBoxFile box;
        ASSERT_EQ(box.Open(dir.File("Message.box")), 1) << r.name;
        ASSERT_EQ(box.Append(id36, r.type, "No", r.record), 1) << r.name << box.LastError();
        box.Close();
        EXPECT_EQ(ReadWholeFile(dir.File("Message.box")), Header(1) + r.expected) << r.name;
    }
}

TEST(MailBoxLayout, NewFileIsHeaderOnlyAndPrivate)
{
    TempDir dir;
    CMailBoxFile box;
    ASSERT_EQ(box.Open(dir.File("Message.box")), 1);
    EXPECT_EQ(ReadWholeFile(dir.File("Message.box")), Header(0));
    struct stat st {
    };
    ASSERT_EQ(::stat(dir.File("Message.box").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(MailBoxLayout, SetReadWritesFourBytes)
{
    struct Row {
        const char* name;
        std::string text;
        std::string item;
        int result;
    } rows[] = {
        {"yes", "Yes", std::string("Yes\0", 4), 1},
        {"no", "No", std::string("No\0\0", 4), 1},
        {"long-text-cut", "Unread", "Unre", 1},
    };
    for (const auto& r : rows) {
        TempDir dir;
        CMailBoxFile box;
        ASSERT_EQ(box.Open(dir.File("Message.box")), 1);
        ASSERT_EQ(box.Append(Sample(1)), 1);
        ASSERT_EQ(box.Append(Sample(2)), 1);
        EXPECT_EQ(box.SetRead(Sample(2).messageId, r.text), r.result) << r.name;
        StoredMessage expected = Sample(2);
        expected.read = r.item;
        std::string bytes = ReadWholeFile(dir.File("Message.box"));
        EXPECT_EQ(bytes, Header(2) + Record(Sample(1)) + Record(expected)) << r.name;
    }
    TempDir dir;
    CMailBoxFile box;
    ASSERT_EQ(box.Open(dir.File("Message.box")), 1);
    ASSERT_EQ(box.Append(Sample(1)), 1);
    EXPECT_EQ(box.SetRead("no-such-id", "Yes"), 0);
    EXPECT_FALSE(box.LastError().empty());
}

// ---- round trip and reading -------------------------------------------------------------

TEST(MailBoxStore, FourMailTypesRoundTrip)
{
    TempDir dir;
    CMailBoxFile box;
    ASSERT_EQ(box.Open(dir.File("Message.box")), 1);
    std::vector<StoredMessage> stored;
    int i = 0;
    for (const char* type : {"POP3", "IMAP4", "Portalpost", "Exchange(MAPI)"}) {
        stored.push_back(Sample(++i, type));
        ASSERT_EQ(box.Append(stored.back()), 1) << type << box.LastError();
    }
    // An unknown mail type stores nothing.
    std::string before = ReadWholeFile(dir.File("Message.box"));
    EXPECT_EQ(box.Append(Sample(9, "SMTP")), 0);
    EXPECT_EQ(box.Append(MessageId(), "Portalpost", "No", MessageRecord{}), 0);
    EXPECT_EQ(ReadWholeFile(dir.File("Message.box")), before);

    box.Close();
    ASSERT_EQ(box.Open(dir.File("Message.box")), 1);
    EXPECT_EQ(box.Count(), 4u);
    auto back = ReadAll(box);
    ASSERT_EQ(back.size(), stored.size());
    for (size_t k = 0; k < back.size(); ++k)
        EXPECT_TRUE(Same(back[k], stored[k])) << stored[k].mailType;
}

TEST(MailBoxStore, ReadCurrentFillsWhatIsAsked)
{
    TempDir dir;
    CMailBoxFile box;
    ASSERT_EQ(box.Open(dir.File("Message.box")), 1);
    StoredMessage m = Sample(7, "Exchange(MAPI)");
    m.subject = std::string("cut\0here", 8); // a text ends at its first zero byte
    ASSERT_EQ(box.Append(m), 1);
    struct Row {
        const char* name;
        bool all, preview;
        bool hasSender, hasPreview;
    } rows[] = {
        {"ids-only", false, false, false, false},
        {"preview-without-all", false, true, false, false},
        {"all-but-preview", true, false, true, false},
        {"everything", true, true, true, true},
    };
    for (const auto& r : rows) {
        box.Rewind();
        ASSERT_EQ(box.Next(), 1);
        StoredMessage out;
        ASSERT_EQ(box.ReadCurrent(out, r.all, r.preview), 1) << r.name;
        EXPECT_EQ(out.messageId, m.messageId) << r.name;
        EXPECT_EQ(out.mailType, m.mailType) << r.name;
        EXPECT_EQ(out.read, "No") << r.name;
        EXPECT_EQ(out.sender, r.hasSender ? m.sender : "") << r.name;
        EXPECT_EQ(out.subject, r.hasSender ? "cut" : "") << r.name;
        EXPECT_EQ(out.store, r.hasSender ? "Mailbox" : "") << r.name;
        EXPECT_EQ(out.preview, r.hasPreview ? m.preview : "") << r.name;
        EXPECT_EQ(box.Next(), 0) << r.name;
    }
}

TEST(MailBoxStore, DeleteRewritesWithoutTheRecord)
{
    struct Row {
        const char* name;
        std::vector<int> stored;
        int remove;
        int result;
        std::vector<int> left;
    } rows[] = {
        {"middle", {1, 2, 3}, 2, 1, {1, 3}},
        {"first", {1, 2, 3}, 1, 1, {2, 3}},
        {"last", {1, 2, 3}, 3, 1, {1, 2}},
        {"only", {1}, 1, 1, {}},
        {"unknown-id-changes-nothing", {1, 2}, 5, 0, {1, 2}},
        {"empty-store", {}, 1, 0, {}},
    };
    for (const auto& r : rows) {
        TempDir dir;
        CMailBoxFile box;
        ASSERT_EQ(box.Open(dir.File("Message.box")), 1);
        for (int i : r.stored)
            ASSERT_EQ(box.Append(Sample(i)), 1);
        EXPECT_EQ(box.Delete(Sample(r.remove).messageId), r.result) << r.name;
        std::string expected = Header(static_cast<uint32_t>(r.left.size()));
        for (int i : r.left)
            expected += Record(Sample(i));
        EXPECT_EQ(ReadWholeFile(dir.File("Message.box")), expected) << r.name;
        // The object keeps working on the new file.
        ASSERT_EQ(box.Append(Sample(9)), 1) << r.name << box.LastError();
        EXPECT_EQ(ReadAll(box).size(), r.left.size() + 1) << r.name;
        struct stat st {
        };
        ASSERT_EQ(::stat(dir.File("Message.box").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << r.name;
    }
}

// A renumbered IMAP4 mailbox: the records of that kind lose their identifier, nothing else
// changes (bytes, order, mode); with none to unlink the file is not even rewritten.
TEST(MailBoxStore, ForgetUidsEmptiesOnlyThatKind)
{
    struct Row {
        const char* name;
        std::vector<std::pair<int, const char*>> stored; // Sample(id, kind)
        bool rewritten;
    } rows[] = {
        {"mixed", {{1, "IMAP4"}, {2, "POP3"}, {3, "IMAP4"}, {4, "Portalpost"}}, true},
        {"only-imap", {{1, "IMAP4"}}, true},
        {"none-of-that-kind", {{1, "POP3"}, {2, "Exchange(MAPI)"}}, false},
        {"already-unlinked", {{1, "IMAP4"}, {2, "POP3"}}, false},
        {"empty-store", {}, false},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string path = dir.File("Message.box");
        CMailBoxFile box;
        ASSERT_EQ(box.Open(path), 1);
        std::vector<StoredMessage> stored;
        for (const auto& [id, kind] : r.stored) {
            stored.push_back(Sample(id, kind));
            if (std::string(r.name) == "already-unlinked" && stored.back().mailType == "IMAP4")
                stored.back().uid.clear();
            ASSERT_EQ(box.Append(stored.back()), 1);
        }
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
        struct stat before {
        };
        ASSERT_EQ(::stat(path.c_str(), &before), 0);

        EXPECT_EQ(box.ForgetUids("IMAP4"), 1) << r.name << ": " << box.LastError();
        std::string expected = Header(static_cast<uint32_t>(stored.size()));
        for (StoredMessage m : stored) {
            if (m.mailType == "IMAP4")
                m.uid.clear();
            expected += Record(m);
        }
        EXPECT_EQ(ReadWholeFile(path), expected) << r.name;
        struct stat after {
        };
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino != before.st_ino, r.rewritten) << r.name;
        EXPECT_EQ(after.st_mode & 0777, 0640u) << r.name;
        // The object keeps working on the new file.
        ASSERT_EQ(box.Append(Sample(9)), 1) << r.name << box.LastError();
        EXPECT_EQ(ReadAll(box).size(), stored.size() + 1) << r.name;
    }
}

TEST(MailBoxStore, BatchAppendCountsAllAtOnce)
{
    TempDir dir;
    CMailBoxFile box;
    ASSERT_EQ(box.Open(dir.File("Message.box")), 1);
    std::vector<StoredMessage> batch{Sample(1), Sample(2, "IMAP4"), Sample(3)};
    ASSERT_EQ(box.Append(batch), 1);
    EXPECT_EQ(ReadWholeFile(dir.File("Message.box")),
              Header(3) + Record(batch[0]) + Record(batch[1]) + Record(batch[2]));
    batch.push_back(Sample(4, "Unknown"));
    EXPECT_EQ(box.Append(batch), 0); // one bad message stores none of the batch
    EXPECT_EQ(box.Count(), 3u);
}

// Many ids at once: one pass, every record named is handled, the missing ids are reported.
TEST(MailBoxStore, BatchMarkAndRemove)
{
    struct Row {
        const char* name;
        std::vector<int> stored;
        std::vector<int> ids; // Sample ids named in the call
        int result;
        std::vector<int> marked; // SetRead "Yes": records whose Read item reads "Yes"
        std::vector<int> left;   // Delete: records left, in file order
    } rows[] = {
        {"all", {1, 2, 3, 4}, {1, 2, 3, 4}, 1, {1, 2, 3, 4}, {}},
        {"every-other", {1, 2, 3, 4, 5}, {2, 4}, 1, {2, 4}, {1, 3, 5}},
        {"first-and-last", {1, 2, 3}, {3, 1}, 1, {1, 3}, {2}},
        {"empty-set-is-nothing-to-do", {1, 2}, {}, 1, {}, {1, 2}},
        {"one-missing-others-still-done", {1, 2, 3}, {2, 9}, 0, {2}, {1, 3}},
        {"none-found", {1, 2}, {8, 9}, 0, {}, {1, 2}},
        {"empty-store", {}, {1}, 0, {}, {}},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string path = dir.File("Message.box");
        CMailBoxFile box;
        ASSERT_EQ(box.Open(path), 1);
        for (int i : r.stored)
            ASSERT_EQ(box.Append(Sample(i)), 1);
        std::unordered_set<std::string> ids;
        for (int i : r.ids)
            ids.insert(Sample(i).messageId);

        EXPECT_EQ(box.SetRead(ids, "Yes"), r.result) << r.name;
        EXPECT_EQ(box.LastError().empty(), r.result == 1 || r.ids.empty()) << r.name;
        std::string expected = Header(static_cast<uint32_t>(r.stored.size()));
        for (int i : r.stored) {
            StoredMessage m = Sample(i);
            if (std::find(r.marked.begin(), r.marked.end(), i) != r.marked.end())
                m.read = "Yes";
            expected += Record(m);
        }
        EXPECT_EQ(ReadWholeFile(path), expected) << r.name << ": marked in place";
        // Marking again changes nothing and still succeeds when all were found.
        EXPECT_EQ(box.SetRead(ids, "Yes"), r.result) << r.name;
        EXPECT_EQ(ReadWholeFile(path), expected) << r.name;
        EXPECT_EQ(box.SetRead(ids, "No"), r.result) << r.name;

        EXPECT_EQ(box.Delete(ids), r.result) << r.name;
        expected = Header(static_cast<uint32_t>(r.left.size()));
        for (int i : r.left)
            expected += Record(Sample(i));
        EXPECT_EQ(ReadWholeFile(path), expected) << r.name << ": rewritten without them";
        EXPECT_EQ(box.Count(), r.left.size()) << r.name;
        ASSERT_EQ(box.Append(Sample(7)), 1) << r.name << box.LastError();
        EXPECT_EQ(ReadAll(box).size(), r.left.size() + 1) << r.name;
    }
}

// Unflushed appends are counted and readable at once, by this object and by a new one; a
// replaced or grown file is no longer current.
TEST(MailBoxStore, UnflushedAppendIsVisibleAtOnce)
{
    struct Row {
        const char* name;
        std::function<void(const std::string& path)> meanwhile;
        bool current;
    } rows[] = {
        {"untouched", [](const std::string&) {}, true},
        {"marked-in-place-elsewhere",
         [](const std::string& path) {
             CMailBoxFile other;
             ASSERT_EQ(other.Open(path), 1);
             ASSERT_EQ(other.SetRead(Sample(1).messageId, "Yes"), 1);
         },
         true},
        {"replaced-by-a-removal",
         [](const std::string& path) {
             CMailBoxFile other;
             ASSERT_EQ(other.Open(path), 1);
             ASSERT_EQ(other.Delete(Sample(1).messageId), 1);
         },
         false},
        {"grown-by-another-writer",
         [](const std::string& path) {
             CMailBoxFile other;
             ASSERT_EQ(other.Open(path), 1);
             ASSERT_EQ(other.Append(Sample(5)), 1);
         },
         false},
        {"removed", [](const std::string& path) { std::remove(path.c_str()); }, false},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string path = dir.File("Message.box");
        CMailBoxFile box;
        ASSERT_EQ(box.Open(path), 1);
        ASSERT_EQ(box.AppendUnflushed(Sample(1)), 1) << r.name;
        ASSERT_EQ(box.AppendUnflushed(Sample(2, "IMAP4")), 1) << r.name;
        EXPECT_EQ(ReadWholeFile(path), Header(2) + Record(Sample(1)) + Record(Sample(2, "IMAP4")))
            << r.name;
        {
            CMailBoxFile reader;
            ASSERT_EQ(reader.Open(path), 1) << r.name;
            EXPECT_TRUE(reader.LastRepair().empty()) << r.name << reader.LastRepair();
            EXPECT_EQ(reader.Count(), 2u) << r.name;
        }
        EXPECT_TRUE(box.IsCurrent()) << r.name;
        r.meanwhile(path);
        EXPECT_EQ(box.IsCurrent(), r.current) << r.name;
        EXPECT_EQ(box.Flush(), 1) << r.name;
    }
    CMailBoxFile closed;
    EXPECT_FALSE(closed.IsCurrent());
    EXPECT_EQ(closed.Flush(), 0);
    EXPECT_EQ(closed.AppendUnflushed(Sample(1)), 0);
    EXPECT_EQ(closed.SetRead(std::unordered_set<std::string>{"x"}, "Yes"), 0);
    EXPECT_EQ(closed.Delete(std::unordered_set<std::string>{"x"}), 0);
}

// ---- hostile files: the verdict of Open ------------------------------------------------

struct Verdict {
    const char* name;
    std::function<std::string()> bytes;
    int open;
    uint32_t count; // records after a successful Open
    bool repaired;  // the file was mended (else it must be byte-identical)
};

std::string TwoRecords(uint32_t n)
{
    return Header(n) + Record(Sample(1)) + Record(Sample(2));
}

std::string WithLength(std::string bytes, size_t recordAt, int index, uint32_t value)
{
    bytes.replace(recordAt + 4 + 4 * index, 4, Le32(value));
    return bytes;
}

TEST(MailBoxOpen, VerdictTable)
{
    const size_t second = 2048 + Record(Sample(1)).size();
    const Verdict rows[] = {
        {"intact", [] { return TwoRecords(2); }, 1, 2, false},
        {"empty-file-gets-header", [] { return std::string(); }, 1, 0, true},
        {"shorter-than-header", [] { return Header(0).substr(0, 100); }, 0, 0, false},
        {"header-only", [] { return Header(0); }, 1, 0, false},
        {"n-larger-than-records", [] { return TwoRecords(5); }, 1, 2, true},
        {"n-all-ones", [] { return TwoRecords(0xFFFFFFFF); }, 1, 2, true},
        {"n-all-ones-header-only", [] { return Header(0xFFFFFFFF); }, 1, 0, true},
        {"t-zero-with-data-after",
         [] {
             std::string b = TwoRecords(2);
             b.replace(2048, 4, Le32(0));
             return b;
         },
         0, 0, false},
        {"t-zero-zero-tail-after-count-raised",
         [] { return TwoRecords(3) + std::string(128, '\0'); }, 1, 2, true},
        {"last-record-ends-beyond-eof",
         [] {
             std::string b = TwoRecords(2);
             return b.substr(0, b.size() - 10);
         },
         1, 1, true},
        {"t-far-beyond-eof-consistent",
         [=] {
             // T and the preview length agree, but the record would end 4 GB on.
             std::string b = TwoRecords(2);
             uint32_t others = 0;
             for (int k = 0; k < 11; ++k)
                 others += At32(b, second + 4 + 4 * k);
             b.replace(second, 4, Le32(0xFFFFFFC0));
             return WithLength(b, second, 11, 0xFFFFFFC0 - 64 - others);
         },
         1, 1, true},
        {"t-far-beyond-eof-inconsistent",
         [=] {
             std::string b = TwoRecords(2);
             b.replace(second, 4, Le32(0xFFFFFFC0));
             return b;
         },
         0, 0, false},
        {"lengths-wrapping-2^32",
         [] {
             // 32-bit sum: 0xFFFFFFF0 + 0x10 + others wraps to a small number.
             std::string b = WithLength(TwoRecords(2), 2048, 0, 0xFFFFFFF0);
             return WithLength(b, 2048, 1, 0x14 + 36);
         },
         0, 0, false},
        {"t-does-not-match-lengths", [] { return WithLength(TwoRecords(2), 2048, 1, 1000); }, 0, 0,
         false},
        {"stray-garbage-tail", [] { return TwoRecords(2) + std::string(100, 'x'); }, 0, 0, false},
        {"stray-garbage-after-record", [] { return TwoRecords(1) + std::string(200, 'x'); }, 0, 0,
         false},
        {"uncounted-whole-record", [] { return TwoRecords(1); }, 1, 1, true},
        {"uncounted-records-of-a-batch", [] { return TwoRecords(0); }, 1, 0, true},
        {"uncounted-partial-record",
         [] { return TwoRecords(2) + Record(Sample(3)).substr(0, 100); }, 1, 2, true},
        {"uncounted-partial-head", [] { return TwoRecords(2) + Record(Sample(3)).substr(0, 20); },
         1, 2, true},
        {"count-raised-nothing-written", [] { return TwoRecords(3); }, 1, 2, true},
        {"count-raised-head-only", [] { return TwoRecords(3) + Record(Sample(3)).substr(0, 64); },
         1, 2, true},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string path = dir.File("Message.box");
        const std::string original = r.bytes();
        WriteWholeFile(path, original);
        CMailBoxFile box;
        EXPECT_EQ(box.Open(path), r.open) << r.name << ": " << box.LastError();
        if (r.open == 0) {
            EXPECT_FALSE(box.LastError().empty()) << r.name;
            EXPECT_EQ(ReadWholeFile(path), original) << r.name << ": refused file was changed";
            continue;
        }
        EXPECT_EQ(box.Count(), r.count) << r.name;
        EXPECT_EQ(!box.LastRepair().empty(), r.repaired) << r.name << ": " << box.LastRepair();
        auto all = ReadAll(box);
        ASSERT_EQ(all.size(), r.count) << r.name;
        for (uint32_t k = 0; k < r.count; ++k)
            EXPECT_TRUE(Same(all[k], Sample(static_cast<int>(k) + 1))) << r.name;
        if (!r.repaired)
            EXPECT_EQ(ReadWholeFile(path), original) << r.name;
        // The mended store takes new messages and reopens clean.
        ASSERT_EQ(box.Append(Sample(8)), 1) << r.name;
        box.Close();
        ASSERT_EQ(box.Open(path), 1) << r.name << ": " << box.LastError();
        EXPECT_TRUE(box.LastRepair().empty()) << r.name << ": " << box.LastRepair();
        EXPECT_EQ(box.Count(), r.count + 1) << r.name;
    }
}

TEST(MailBoxOpen, UnusablePaths)
{
    TempDir dir;
    ::mkdir(dir.File("folder").c_str(), 0700);
    struct Row {
        const char* name;
        std::string path;
    } rows[] = {
        {"a-folder", dir.File("folder")},
        {"missing-parent", dir.File("missing/Message.box")},
    };
    for (const auto& r : rows) {
        CMailBoxFile box;
        EXPECT_EQ(box.Open(r.path), 0) << r.name;
        EXPECT_NE(box.LastError().find(r.path), std::string::npos) << r.name << box.LastError();
        EXPECT_EQ(box.Append(Sample(1)), 0) << r.name;
    }
}

// A write that fails half way leaves the old content as it was, and the store usable.
TEST(MailBoxFaults, FailedWritesLeaveOldContent)
{
    StoredMessage big = Sample(5);
    big.preview.assign(64 * 1024, 'p');
    struct Row {
        const char* name;
        std::function<int(CMailBoxFile&)> operation;
        off_t headroom; // bytes the file may grow by
    } rows[] = {
        {"append", [&](CMailBoxFile& box) { return box.Append(big); }, 4096},
        {"batch-append",
         [&](CMailBoxFile& box) {
             return box.Append(std::vector<StoredMessage>{Sample(6), big});
         },
         4096},
        {"delete-rewrite", [](CMailBoxFile& box) { return box.Delete(Sample(1).messageId); },
         -2000},
        {"batch-delete-rewrite",
         [](CMailBoxFile& box) {
             return box.Delete(
                 std::unordered_set<std::string>{Sample(1).messageId, Sample(3).messageId});
         },
         -2000},
        {"unflushed-append", [&](CMailBoxFile& box) { return box.AppendUnflushed(big); }, 4096},
        {"forget-uids-rewrite", [](CMailBoxFile& box) { return box.ForgetUids("POP3"); }, -2000},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string path = dir.File("Message.box");
        CMailBoxFile box;
        ASSERT_EQ(box.Open(path), 1);
        for (int i = 1; i <= 3; ++i)
            ASSERT_EQ(box.Append(Sample(i)), 1);
        const std::string before = ReadWholeFile(path);
        const int result = WithFileSizeLimit(static_cast<rlim_t>(before.size() + r.headroom),
                                             [&] { return r.operation(box); });
        EXPECT_EQ(result, 0) << r.name;
        EXPECT_FALSE(box.LastError().empty()) << r.name;
        EXPECT_EQ(ReadWholeFile(path), before) << r.name;
        ASSERT_EQ(box.Append(Sample(4)), 1) << r.name << ": " << box.LastError();
        box.Close();
        ASSERT_EQ(box.Open(path), 1) << r.name;
        EXPECT_TRUE(box.LastRepair().empty()) << r.name << ": " << box.LastRepair();
        EXPECT_EQ(box.Count(), 4u) << r.name;
    }
}

TEST(MessageIdText, FormIsLowerCaseUuid)
{
    const std::string a = MessageId(), b = MessageId();
    EXPECT_NE(a, b);
    ASSERT_EQ(a.size(), 36u);
    for (size_t i = 0; i < a.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            EXPECT_EQ(a[i], '-') << a;
        else
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(a[i])) ||
                        (a[i] >= 'a' && a[i] <= 'f'))
                << a;
    }
    EXPECT_EQ(a[14], '4') << a;
}

} // namespace
