#include "accountfile.h"
#include "accounttestutil.h"
#include "certificatepin.h"
#include "passcipher.h"
#include "support/filefaults.h"
#include "support/tempdir.h"

#include <climits>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace accounttest;

namespace
{

std::string InfPassword(const std::string& plain)
{
    return Protected(plain, kAccountInfContainer, kAccountInfPass);
}

AccountRecord Pop3Record()
{
    AccountRecord r;
    r.name = "Work";
    r.mailType = "POP3";
    r.userName = "alice";
    r.server = "mail.example.org";
    r.port = "110";
    r.periodCheck = "No";
    r.period = "15";
    r.specifiedTimeCheck = "No";
    r.specifiedTime = "09:00";
    r.priview = "99";
    r.password = "s3cret";
    return r;
}

// The lines before "Password=" of Pop3Record, from the documented key order.
std::string Pop3Lines(const std::string& extra = "")
{
    return "[Work]\r\nMailType=POP3\r\nUserName=alice\r\nServer=mail.example.org\r\n"
           "Port=110\r\nPeriodCheck=No\r\nPeriod=15\r\nSpecifiedTimeCheck=No\r\n"
           "SpecifiedTime=09:00\r\nPriview=99\r\n" +
           extra;
}

void ExpectSameRecord(const AccountRecord& a, const AccountRecord& b, const char* row)
{
    EXPECT_EQ(a.mailType, b.mailType) << row;
    EXPECT_EQ(a.userName, b.userName) << row;
    EXPECT_EQ(a.server, b.server) << row;
    EXPECT_EQ(a.port, b.port) << row;
    EXPECT_EQ(a.periodCheck, b.periodCheck) << row;
    EXPECT_EQ(a.period, b.period) << row;
    EXPECT_EQ(a.specifiedTimeCheck, b.specifiedTimeCheck) << row;
    EXPECT_EQ(a.specifiedTime, b.specifiedTime) << row;
    EXPECT_EQ(a.priview, b.priview) << row;
    EXPECT_EQ(a.password, b.password) << row;
    EXPECT_EQ(a.security, b.security) << row;
    EXPECT_EQ(a.push, b.push) << row;
    EXPECT_EQ(a.markReadOnServer, b.markReadOnServer) << row;
    EXPECT_EQ(a.signIn, b.signIn) << row;
    EXPECT_EQ(a.pin, b.pin) << row;
}

// A certificate fingerprint as the account keeps it.
const std::string kPin = "3fa1c2d0e4b5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f";

TEST(AccountInf, WriterBytesFollowTheLayout)
{
    struct Row {
        const char* name;
        std::string security;
        std::string password;
        std::string expected;
        std::string push = "";
        std::string markRead = "";
        std::string pin = "";
        std::string signIn = "";
    } rows[] = {
        // OAuth 2.0 keeps the refresh token in the password slot, after its own line.
        {"oauth-sign-in", "TLS", "refresh-token-value",
         Pop3Lines("Security=TLS\r\nPush=Yes\r\nSignIn=OAuth2\r\n") +
             "Password=" + InfPassword("refresh-token-value") + "\r\n",
         "Yes", "", "", "OAuth2"},
        // The pin follows the switches and comes before "Password="; none is no line.
        {"pin-after-every-line", "TLS", "s3cret",
         Pop3Lines("Security=TLS\r\nPush=Yes\r\nMarkReadOnServer=Yes\r\nPin=" + kPin + "\r\n") +
             "Password=" + InfPassword("s3cret") + "\r\n",
         "Yes", "Yes", kPin},
        {"pin-only", "", "s3cret",
         Pop3Lines("Pin=" + kPin + "\r\n") + "Password=" + InfPassword("s3cret") + "\r\n", "", "",
         kPin},
        // The switches follow "Security=" and come before "Password="; off is no line.
        {"push-and-mark-read", "STARTTLS", "s3cret",
         Pop3Lines("Security=STARTTLS\r\nPush=Yes\r\nMarkReadOnServer=Yes\r\n") +
             "Password=" + InfPassword("s3cret") + "\r\n",
         "Yes", "Yes"},
        {"push-only", "", "s3cret",
         Pop3Lines("Push=Yes\r\n") + "Password=" + InfPassword("s3cret") + "\r\n", "Yes", ""},
        {"plain", "", "s3cret", Pop3Lines() + "Password=" + InfPassword("s3cret") + "\r\n"},
        {"starttls", "STARTTLS", "s3cret",
         Pop3Lines("Security=STARTTLS\r\n") + "Password=" + InfPassword("s3cret") + "\r\n"},
        {"tls", "TLS", "s3cret",
         Pop3Lines("Security=TLS\r\n") + "Password=" + InfPassword("s3cret") + "\r\n"},
        {"empty-password", "", "", Pop3Lines() + "Password=\r\n"},
    };
    TempDir dir;
    for (const auto& r : rows) {
        AccountRecord rec = Pop3Record();
        rec.security = r.security;
        rec.password = r.password;
        rec.push = r.push;
        rec.markReadOnServer = r.markRead;
        rec.signIn = r.signIn;
        rec.pin = r.pin;
        std::string path = dir.File(std::string(r.name) + ".inf");
        std::string error;
        ASSERT_EQ(CAccountFile::WriteAccountFile(path, rec, &error), 1) << r.name << error;
        EXPECT_EQ(ReadWholeFile(path), r.expected) << r.name;
        struct stat st {
        };
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << r.name;

        AccountRecord back;
        back.name = "Work";
        ASSERT_EQ(CAccountFile::ReadAccountFile(path, back), 1) << r.name;
        ExpectSameRecord(back, rec, r.name);
    }
}

// Files as they can be found on disk, parsed; each row says what the reader must return.
TEST(AccountInf, ReaderEdgeCases)
{
    // Plain passwords whose protected form is a troublesome byte string.
    const std::string crlfPlain = Unprotected("\r\n", kAccountInfContainer, kAccountInfPass);
    const std::string keyPlain = Unprotected("Server=", kAccountInfContainer, kAccountInfPass);
    const std::string linePlain =
        Unprotected("\r\nMailType=IMAP4\r\n", kAccountInfContainer, kAccountInfPass);
    const std::string cutPlain =
        Unprotected(InfPassword("abcd").substr(0, 2), kAccountInfContainer, kAccountInfPass);
    struct Row {
        const char* name;
        std::string bytes;
        std::string password;
        std::string server;
        std::string security;
        std::string pin = "";
    } rows[] = {
        // Another tool's shape of a fingerprint reads as the account's own; a damaged one
        // trusts nothing.
        {"pin-read", Pop3Lines("Pin=" + kPin + "\r\n") + "Password=\r\n", "", "mail.example.org",
         "", kPin},
        {"pin-upper-case-with-colons",
         Pop3Lines("Pin=" + PinForReading(kPin) + "\r\n") + "Password=\r\n", "", "mail.example.org",
         "", kPin},
        {"pin-too-short-ignored", Pop3Lines("Pin=" + kPin.substr(1) + "\r\n") + "Password=\r\n", "",
         "mail.example.org", "", ""},
        {"pin-not-hex-ignored", Pop3Lines("Pin=" + kPin.substr(1) + "g\r\n") + "Password=\r\n", "",
         "mail.example.org", "", ""},
        {"pin-only-inside-password", "[W]\r\nServer=s\r\nPassword=\r\nPin=" + kPin + "\r\n\r\n",
         Unprotected("\r\nPin=" + kPin + "\r\n", kAccountInfContainer, kAccountInfPass), "s", ""},
        {"protected-is-crlf", Pop3Lines() + "Password=\r\n\r\n", crlfPlain, "mail.example.org", ""},
        {"protected-is-key-text", Pop3Lines() + "Password=Server=\r\n", keyPlain,
         "mail.example.org", ""},
        {"protected-holds-a-line", Pop3Lines() + "Password=\r\nMailType=IMAP4\r\n\r\n", linePlain,
         "mail.example.org", ""},
        {"ends-at-key", Pop3Lines() + "Password=", "", "mail.example.org", ""},
        {"one-byte-after-key", Pop3Lines() + "Password=x", "", "mail.example.org", ""},
        {"only-crlf-after-key", Pop3Lines() + "Password=\r\n", "", "mail.example.org", ""},
        // Without a final CR LF the reader still drops two bytes from the end.
        {"no-final-crlf-cuts-two-bytes", Pop3Lines() + "Password=" + InfPassword("abcd"), cutPlain,
         "mail.example.org", ""},
        {"no-password-key", Pop3Lines(), "", "mail.example.org", ""},
        {"empty-file", "", "", "", ""},
        {"value-without-crlf", "[W]\r\nServer=host", "", "", ""},
        {"unknown-security-ignored", Pop3Lines("Security=SSL\r\n") + "Password=\r\n", "",
         "mail.example.org", ""},
        {"security-read", Pop3Lines("Security=None\r\n") + "Password=\r\n", "", "mail.example.org",
         "None"},
        {"key-text-inside-a-value",
         "[W]\r\nMailType=POP3\r\nUserName=Server=evil\r\nServer=good\r\nPassword=\r\n", "", "good",
         ""},
        {"no-section-line", "Server=first\r\nPassword=\r\n", "", "first", ""},
        // Lines that appear only inside the enciphered password are not keys of the file.
        {"security-only-inside-password", "[W]\r\nServer=s\r\nPassword=\r\nSecurity=TLS\r\n\r\n",
         Unprotected("\r\nSecurity=TLS\r\n", kAccountInfContainer, kAccountInfPass), "s", ""},
        {"server-only-inside-password", "[W]\r\nPassword=\r\nServer=evil\r\n\r\n",
         Unprotected("\r\nServer=evil\r\n", kAccountInfContainer, kAccountInfPass), "", ""},
        {"nul-bytes-before-keys", std::string("[W\0]\r\nServer=s\r\nPassword=\r\n", 27), "", "s",
         ""},
    };
    for (const auto& r : rows) {
        AccountRecord rec;
        CAccountFile::ParseAccountInf(r.bytes, rec);
        EXPECT_EQ(rec.password, r.password) << r.name;
        EXPECT_EQ(rec.server, r.server) << r.name;
        EXPECT_EQ(rec.security, r.security) << r.name;
        EXPECT_EQ(rec.pin, r.pin) << r.name;
    }
}

TEST(AccountInf, RoundTripIsByteExact)
{
    struct Row {
        const char* name;
        AccountRecord record;
    } rows[] = {
        {"keys-inside-values",
         [] {
             AccountRecord r = Pop3Record();
             r.userName = "Password=abc";
             r.server = "Port=25 Server=x";
             r.priview = "MailType=IMAP4";
             return r;
         }()},
        {"password-with-cr-lf-nul",
         [] {
             AccountRecord r = Pop3Record();
             r.password = std::string("a\r\nb\0c\r\n", 8);
             return r;
         }()},
        {"password-is-a-key-line",
         [] {
             AccountRecord r = Pop3Record();
             r.password = "\r\nPassword=\r\n";
             return r;
         }()},
        {"all-empty", AccountRecord{}},
        {"utf8-values",
         [] {
             AccountRecord r = Pop3Record();
             r.userName = "j\xc3\xbcrgen";
             return r;
         }()},
    };
    for (const auto& r : rows) {
        std::string bytes;
        ASSERT_EQ(CAccountFile::FormatAccountInf(r.record, bytes), 1) << r.name;
        AccountRecord back;
        CAccountFile::ParseAccountInf(bytes, back);
        ExpectSameRecord(back, r.record, r.name);
        back.name = r.record.name;
        std::string again;
        ASSERT_EQ(CAccountFile::FormatAccountInf(back, again), 1) << r.name;
        EXPECT_EQ(again, bytes) << r.name;
    }
}

TEST(AccountInf, WriterRefusesValuesThatWouldBreakLines)
{
    struct Row {
        const char* name;
        void (*spoil)(AccountRecord&);
    } rows[] = {
        {"cr-in-name", [](AccountRecord& r) { r.name = "Wo\rrk"; }},
        {"lf-in-user", [](AccountRecord& r) { r.userName = "bob\nPassword=x"; }},
        {"crlf-in-server", [](AccountRecord& r) { r.server = "a\r\nPort=1"; }},
        {"nul-in-port", [](AccountRecord& r) { r.port = std::string("1\0", 2); }},
        {"lf-in-specified-time", [](AccountRecord& r) { r.specifiedTime = "09:00\n"; }},
        {"unknown-security", [](AccountRecord& r) { r.security = "SSL"; }},
        {"pin-not-a-fingerprint", [](AccountRecord& r) { r.pin = "3fa1c2d0"; }},
        {"pin-upper-case", [](AccountRecord& r) { r.pin = PinForReading(kPin); }},
        {"pin-with-line-break", [](AccountRecord& r) { r.pin = kPin + "\r\nServer=evil"; }},
    };
    TempDir dir;
    std::string path = dir.File("Account.inf");
    ASSERT_EQ(CAccountFile::WriteAccountFile(path, Pop3Record()), 1);
    const std::string before = ReadWholeFile(path);
    for (const auto& r : rows) {
        AccountRecord rec = Pop3Record();
        r.spoil(rec);
        std::string error;
        EXPECT_EQ(CAccountFile::WriteAccountFile(path, rec, &error), 0) << r.name;
        EXPECT_FALSE(error.empty()) << r.name;
        EXPECT_EQ(ReadWholeFile(path), before) << r.name << ": the old file must stay";
    }
}

TEST(AccountInf, MissingFileGivesEmptyFields)
{
    TempDir dir;
    AccountRecord rec = Pop3Record();
    EXPECT_EQ(CAccountFile::ReadAccountFile(dir.File("nothing.inf"), rec), 0);
    EXPECT_EQ(rec.name, "Work");
    EXPECT_TRUE(rec.mailType.empty());
    EXPECT_TRUE(rec.password.empty());
}

TEST(AccountRecordDerived, ScheduleAndKind)
{
    struct Row {
        const char* name;
        std::string periodCheck, period, timeCheck, time, mailType;
        int minutes, seconds, kind;
    } rows[] = {
        {"period-on", "Yes", "15", "No", "09:00", "POP3", 15, -1, 0},
        {"period-lower-case-yes-is-off", "yes", "15", "No", "09:00", "IMAP4", -1, -1, 0},
        {"period-leading-digits", "Yes", "20min", "No", "", "POP3", 20, -1, 0},
        {"period-not-a-number", "Yes", "abc", "No", "", "POP3", 0, -1, 0},
        {"period-huge-clamped", "Yes", "99999999999", "No", "", "POP3", INT_MAX, -1, 0},
        {"time-two-digit", "No", "", "Yes", "07:05", "Portalpost", -1, 7 * 3600 + 5 * 60, 1},
        {"time-one-digit-misread", "No", "", "Yes", "7:5", "Exchange(MAPI)", -1, 7 * 3600, 2},
        {"time-one-digit-hour", "No", "", "Yes", "7:05", "POP3", -1, 7 * 3600 + 5 * 60, 0},
        {"time-lower-case-yes-is-off", "No", "", "yes", "07:05", "POP3", -1, -1, 0},
        {"time-empty", "No", "", "Yes", "", "pop3", -1, 0, 0},
        {"time-one-char", "No", "", "Yes", "9", "", -1, 9 * 3600 + 9 * 60, 0},
    };
    for (const auto& r : rows) {
        AccountRecord rec;
        rec.periodCheck = r.periodCheck;
        rec.period = r.period;
        rec.specifiedTimeCheck = r.timeCheck;
        rec.specifiedTime = r.time;
        rec.mailType = r.mailType;
        EXPECT_EQ(DerivedPeriodMinutes(rec), r.minutes) << r.name;
        EXPECT_EQ(DerivedSpecifiedSeconds(rec), r.seconds) << r.name;
        EXPECT_EQ(DerivedKind(rec), r.kind) << r.name;
    }
}

// A rewrite that fails (full disk, read-only folder) says why and leaves the old file, or no
// file, exactly as it was, with no temporary file beside it; the next write succeeds.
TEST(AccountInfFaults, FailedWritesLeaveOldContent)
{
    AccountRecord changed = Pop3Record();
    changed.server = "imap.example.net";
    changed.security = "TLS";
    changed.password = "a-longer-secret";
    std::string changedBytes;
    ASSERT_EQ(CAccountFile::FormatAccountInf(changed, changedBytes), 1);
    enum class Fault { DiskFull, ReadOnlyFolder };
    struct Row {
        const char* name;
        bool oldFile;
        Fault fault;
        size_t room; // DiskFull: how many bytes of the new file fit
    } rows[] = {
        {"rewrite-no-room", true, Fault::DiskFull, 0},
        {"rewrite-cut-in-a-line", true, Fault::DiskFull, 40},
        {"rewrite-cut-in-the-password", true, Fault::DiskFull, changedBytes.size() - 3},
        {"new-file-cut", false, Fault::DiskFull, 40},
        {"read-only-rewrite", true, Fault::ReadOnlyFolder, 0},
        {"read-only-new-file", false, Fault::ReadOnlyFolder, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        const std::string path = dir.File("Account.inf");
        if (r.oldFile)
            ASSERT_EQ(CAccountFile::WriteAccountFile(path, Pop3Record()), 1);
        const std::string before = ReadWholeFile(path);
        std::string error;
        auto write = [&] { return CAccountFile::WriteAccountFile(path, changed, &error); };
        const int result = r.fault == Fault::DiskFull
                               ? WithFileSizeLimit(static_cast<rlim_t>(r.room), write)
                               : WithReadOnlyFolder(dir.Path(), write);
        EXPECT_EQ(result, 0);
        EXPECT_NE(error.find("Account.inf"), std::string::npos) << error;
        EXPECT_EQ(std::filesystem::exists(path), r.oldFile);
        EXPECT_EQ(ReadWholeFile(path), before);
        size_t entries = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            entries += e.path().filename() == "Account.inf" ? 0 : 1;
        EXPECT_EQ(entries, 0u) << "a temporary file was left behind";

        error.clear();
        ASSERT_EQ(CAccountFile::WriteAccountFile(path, changed, &error), 1) << error;
        EXPECT_EQ(ReadWholeFile(path), changedBytes);
        AccountRecord back;
        ASSERT_EQ(CAccountFile::ReadAccountFile(path, back), 1);
        ExpectSameRecord(back, changed, r.name);
    }
}

} // namespace
