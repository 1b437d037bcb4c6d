// The library through its exported C functions, over real Maildirs in a temporary folder
// with the profile in the settings store: the log-on scan, new mail delivered while logged
// on, mail read by a client, the filter rules, log-off.
#include "apppaths.h"
#include "exchangemessagehandler.h"
#include "filterrule.h"
#include "filterrules.h"
#include "mapiprobe/recordingsink.h"
#include "mapiprobe/testmaildir.h"
#include "midsfile.h"
#include "postwatch_plugin.h"
#include "programkey.h"
#include "registrykey.h"
#include "resourcelibrary.h"
#include "support/component.h"
#include "support/runprocess.h"
#include "support/tempdir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

const char* const kAccount = "Home mail";

std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> Recorded(const std::string& account)
{
    std::vector<std::string> ids;
    CMidsFile::Parse(ReadWholeFile(ExchangeMessageHandler::MidsPath(account)), ids);
    return ids;
}

// The profile in the settings store, as the account dialogs read it.
void ConfigureProfile(const std::string& name, const std::string& root)
{
    const std::string path = ProgramKey::Path("Mapiprobe\\Profiles");
    CRegistryKey key;
    ASSERT_EQ(key.CreateKey(RegistryRoot::CurrentUser, path), 1);
    ASSERT_EQ(key.Open(RegistryRoot::CurrentUser, path), 1);
    ASSERT_EQ(key.WriteString(name, root), 1);
}

bool Has(const std::vector<std::string>& v, const std::string& x)
{
    return std::find(v.begin(), v.end(), x) != v.end();
}

TEST(MapiprobeMaildir, ScanWatchFilterLogoff)
{
    TempDir home;
    ScopedEnv data("POSTWATCH_HOME", home.File("data"));
    ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(kAccount)));
    std::string error;
    ASSERT_TRUE(ResourceLibrary::IsLoaded() || ResourceLibrary::LoadDefault(&error)) << error;
    const FilterKeywords words = FilterKeywords::Load();
    ASSERT_EQ(SaveRule({"Junk", words.subject, words.contains, "junk", "1"}), 1);
    ASSERT_EQ(SaveRule({"Quiet", words.subject, words.contains, "quiet", "0"}), 1);

    TestMaildir box(home.File("Maildir"));
    box.MakeFolder(".Lists");
    const std::string fresh = box.Deliver("", TestMaildir::Message("Fresh"));
    box.Place("", TestMaildir::Message("Seen"), "S");
    box.Place("", TestMaildir::Message("Flagged unread"), "F");
    box.Deliver(".Lists", TestMaildir::Message("List post"));
    ConfigureProfile("Home", box.Root());

    // A hostile MIDs file: a huge count and an empty record, which must not match anything.
    WriteWholeFile(ExchangeMessageHandler::MidsPath(kAccount),
                   std::string("\xff\xff\xff\xff\0\0\0\0", 8));

    EXPECT_EQ(CheckMapiExist(), 1);
    std::vector<std::string> names(PW_PROFILES_MAX, std::string(PW_PROFILE_NAME_SIZE, '\0'));
    std::vector<char*> slots;
    for (auto& n : names)
        slots.push_back(n.data());
    ASSERT_EQ(GetProfiles(slots.data()), 1);
    EXPECT_STREQ(slots[0], "Home");

    // The scan reports exactly the unread messages, with their fields.
    RecordingSink sink;
    const PwSink s = sink.Sink();
    int32_t count = 0;
    ASSERT_EQ(LogonExchange(&s, "Home", kAccount, 0, &count, 1024), PW_LOGON_DONE);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Sorted(sink.Subjects()),
              (std::vector<std::string>{"Flagged unread", "Fresh", "List post"}));
    for (const auto& r : sink.Records()) {
        if (r[1] != "Fresh")
            continue;
        const auto size = std::filesystem::file_size(box.Path("") + "/new/" + fresh);
        const std::vector<std::string> want = {kAccount,
                                               "Fresh",
                                               "Hello there\r\n",
                                               ExchangeMessageHandler::SizeText(size),
                                               "Ann Example",
                                               ExchangeMessageHandler::DateText(1796644800),
                                               "Inbox",
                                               "Maildir",
                                               "No"};
        EXPECT_EQ(r, want);
    }

    // A second log-on while logged on only says so.
    count = 0;
    EXPECT_EQ(LogonExchange(&s, "Home", kAccount, 0, &count, 1024), PW_LOGON_ALREADY);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(sink.Questions().size(), 1u);
    EXPECT_EQ(sink.Questions()[0].caption, LoadResourceString(61339));

    // New mail is reported once, with its summary. Each step ends with a message whose
    // summary shows that the watch has handled everything before it (one thread, in order).
    sink.Clear();
    const std::string late = box.Deliver("", TestMaildir::Message("Late news"));
    ASSERT_TRUE(sink.WaitForSummaries(1));
    box.MarkSeen("", late); // read by a mail client: not new mail
    // Its flags changed, then moved to another folder, back among the new ones there: the
    // same message, not new mail again.
    std::filesystem::rename(box.Path("") + "/cur/" + late + ":2,S",
                            box.Path("") + "/cur/" + late + ":2,RS");
    std::filesystem::rename(box.Path("") + "/cur/" + late + ":2,RS",
                            box.Path(".Lists") + "/new/" + late);
    const std::string junk = box.Deliver("", TestMaildir::Message("junk offer"));
    const std::string quiet = box.Deliver(".Lists", TestMaildir::Message("quiet digest"));
    box.Deliver(".Lists", TestMaildir::Message("After"));
    ASSERT_TRUE(sink.WaitForSummaries(2));
    EXPECT_EQ(sink.Subjects(), (std::vector<std::string>{"Late news", "After"}));
    for (const auto& summary : sink.Summaries()) {
        EXPECT_EQ(summary.code, 4);
        EXPECT_EQ(summary.count, 1);
        EXPECT_EQ(summary.account, kAccount);
    }
    ASSERT_EQ(sink.Records().size(), 2u);
    EXPECT_EQ(sink.Records()[1][6], "Lists");
    // The delete rule moved the message to the trash, flagged, and kept it.
    EXPECT_FALSE(std::filesystem::exists(box.Path("") + "/new/" + junk));
    EXPECT_TRUE(std::filesystem::exists(box.Path(".Trash") + "/cur/" + junk + ":2,T"));
    // The hide rule left it where it was, recorded.
    EXPECT_TRUE(std::filesystem::exists(box.Path(".Lists") + "/new/" + quiet));
    const auto ids = Recorded(kAccount);
    EXPECT_TRUE(Has(ids, quiet));
    EXPECT_TRUE(Has(ids, junk));

    // After log-off nothing is reported; the next log-on's scan finds what came meanwhile,
    // and does not report (or filter: a new rule would delete it) what was handled before.
    LogoffExchange(&s);
    ASSERT_EQ(SaveRule({"Fresh", words.subject, words.is, "Fresh", "1"}), 1);
    sink.Clear();
    box.Deliver("", TestMaildir::Message("While away"));
    box.Deliver("", TestMaildir::Message("junk while away"));
    count = 0;
    ASSERT_EQ(LogonExchange(&s, "Home", kAccount, 0, &count, 1024), PW_LOGON_DONE);
    EXPECT_EQ(sink.Subjects(), (std::vector<std::string>{"While away"}));
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(sink.Summaries().empty());
    EXPECT_TRUE(std::filesystem::exists(box.Path(".Lists") + "/new/" + quiet));
    EXPECT_TRUE(std::filesystem::exists(box.Path("") + "/new/" + fresh));
    LogoffExchange(&s);

    // A record the program could not store ends the log-on and comes again at the next.
    box.Deliver("", TestMaildir::Message("Refused"));
    sink.Clear();
    sink.SetDeliverAnswer(PW_SINK_NOT_STORED);
    count = 0;
    EXPECT_EQ(LogonExchange(&s, "Home", kAccount, 0, &count, 1024), PW_LOGON_FAILED);
    EXPECT_EQ(count, 0);
    sink.SetDeliverAnswer(PW_SINK_HANDLED);
    ASSERT_EQ(LogonExchange(&s, "Home", kAccount, 0, &count, 1024), PW_LOGON_DONE);
    EXPECT_EQ(sink.Subjects(), (std::vector<std::string>{"Refused"}));
    LogoffExchange(&s);

    // Not logged on: it says so.
    sink.Clear();
    LogoffExchange(&s);
    ASSERT_EQ(sink.Questions().size(), 1u);
    EXPECT_EQ(sink.Questions()[0].text, LoadResourceString(61340));
}

// Mail delivered by a real delivery agent, Dovecot's LDA, into the watched Maildir. As root
// the agent runs as "nobody" (it refuses to deliver as root without its auth service).
TEST(MapiprobeMaildir, DeliveredByDovecotLda)
{
    std::string lda;
    for (const char* path : {"/usr/lib/dovecot/dovecot-lda", "/usr/libexec/dovecot/dovecot-lda"})
        if (::access(path, X_OK) == 0)
            lda = path;
    if (lda.empty())
        GTEST_SKIP() << MissingComponent("dovecot-lda", "not installed (package dovecot-core)");

    TempDir home;
    ScopedEnv data("POSTWATCH_HOME", home.File("data"));
    ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(kAccount)));
    TestMaildir box(home.File("Maildir"));
    std::filesystem::create_directories(home.File("lda"));
    for (const std::string& dir : {home.Path(), box.Root(), box.Path("") + "/new",
                                   box.Path("") + "/cur", box.Path("") + "/tmp", home.File("lda")})
        std::filesystem::permissions(dir, std::filesystem::perms::all);
    WriteWholeFile(home.File("lda/dovecot.conf"),
                   "base_dir = " + home.File("lda/run") + "\nstate_dir = " +
                       home.File("lda/state") + "\nlog_path = " + home.File("lda/log") +
                       "\nprotocols =\nmail_location = maildir:" + box.Root() + "\n");
    ConfigureProfile("Home", box.Root());

    RecordingSink sink;
    const PwSink s = sink.Sink();
    int32_t count = 0;
    ASSERT_EQ(LogonExchange(&s, "Home", kAccount, 0, &count, 1024), PW_LOGON_DONE);
    EXPECT_EQ(count, 0);
    std::vector<std::string> args = {"-c", home.File("lda/dovecot.conf"), "-f", "ann@example.org"};
    std::string program = lda;
    if (::geteuid() == 0) {
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "env",
                                   "HOME=" + home.File("lda"), "USER=nobody", lda});
        program = "/usr/bin/setpriv";
    }
    const ProcessResult run =
        RunProcess(program, args, TestMaildir::Message("Via the delivery agent"),
                   {"HOME=" + home.File("lda")});
    ASSERT_EQ(run.exitCode, 0) << run.err << ReadWholeFile(home.File("lda/log"));
    ASSERT_TRUE(sink.WaitForSummaries(1)) << ReadWholeFile(home.File("lda/log"));
    EXPECT_EQ(sink.Subjects(), (std::vector<std::string>{"Via the delivery agent"}));
    LogoffExchange(&s);
}

} // namespace
