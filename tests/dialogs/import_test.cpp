#include "dialogtestsupport.h"
#include "importdlg.h"
#include "thunderbirdprofiles.h"

#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

namespace fs = std::filesystem;

TEST(ImportDisplay, ServerAndUserColumns)
{
    struct Row {
        const char* name;
        const char* kind;
        const char* server;
        const char* user;
        const char* shownServer;
        const char* shownUser;
    } rows[] = {
        {"webmail-hotmail", "Portalpost", "http://services.hotmail.com/x", "ann@hotmail.com",
         "Hotmail", "ann"},
        {"webmail-Hotmail", "Portalpost", "Hotmail", "ann", "Hotmail", "ann"},
        {"webmail-yahoo", "Portalpost", "mail.yahoo.example", "a@b@c", "Yahoo", "a"},
        {"webmail-other-kept", "Portalpost", "webmail.example.org", "bob", "webmail.example.org",
         "bob"},
        {"webmail-upper-case-is-other", "Portalpost", "HOTMAIL", "x@", "HOTMAIL", "x"},
        {"pop3-unchanged", "POP3", "pop.hotmail.com", "ann@hotmail.com", "pop.hotmail.com",
         "ann@hotmail.com"},
        {"imap4-unchanged", "IMAP4", "yahoo", "a@b", "yahoo", "a@b"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(CImportDlg::ShownServer(r.kind, r.server), r.shownServer) << r.name;
        EXPECT_EQ(CImportDlg::ShownUser(r.kind, r.user), r.shownUser) << r.name;
    }
}

TEST(ThunderbirdPrefs, ServersAreReadAndOthersLeftOut)
{
    struct Row {
        const char* name;
        std::string prefs;
        std::vector<std::string> expected; // "name|kind|server|port|user|security"
    } rows[] = {
        {"pop3-and-imap-in-number-order",
         "user_pref(\"mail.server.server10.type\", \"imap\");\n"
         "user_pref(\"mail.server.server10.hostname\", \"imap.example.org\");\n"
         "user_pref(\"mail.server.server10.socketType\", 3);\n"
         "user_pref(\"mail.server.server2.type\", \"pop3\");\n"
         "user_pref(\"mail.server.server2.hostname\", \"pop.example.org\");\n"
         "user_pref(\"mail.server.server2.port\", 995);\n"
         "user_pref(\"mail.server.server2.userName\", \"ann\");\n"
         "user_pref(\"mail.server.server2.name\", \"Ann \\\"Work\\\" \\u00e4\");\n",
         {"Ann \"Work\" \xc3\xa4|POP3|pop.example.org|995|ann|",
          "imap.example.org|IMAP4|imap.example.org|||TLS"}},
        {"local-folders-and-news-left-out",
         "user_pref(\"mail.server.server1.type\", \"none\");\n"
         "user_pref(\"mail.server.server1.hostname\", \"Local Folders\");\n"
         "user_pref(\"mail.server.server3.type\", \"nntp\");\n"
         "user_pref(\"mail.server.server3.hostname\", \"news.example.org\");\n",
         {}},
        {"no-hostname-left-out", "user_pref(\"mail.server.server1.type\", \"pop3\");\n", {}},
        {"bad-port-dropped-starttls",
         "user_pref(\"mail.server.server1.type\", \"imap\");\n"
         "user_pref(\"mail.server.server1.hostname\", \"h\");\n"
         "user_pref(\"mail.server.server1.port\", 99999);\n"
         "user_pref(\"mail.server.server1.socketType\", 2);\n",
         {"h|IMAP4|h|||STARTTLS"}},
        {"malformed-lines-ignored",
         "user_pref(\"mail.server.server1.type\", \"pop3\"\n"
         "user_pref(\"mail.server.server1.hostname\n"
         "user_pref(\"mail.server.serverX.type\", \"pop3\");\n"
         "user_pref(\"mail.server.server99999999999.type\", \"pop3\");\n"
         "user_pref(\"mail.server.server4.hostname\", \"\\u12\");\n"
         "// user_pref(\"mail.server.server5.type\", \"pop3\");\n",
         {}},
        {"crlf-lines",
         "user_pref(\"mail.server.server1.type\", \"pop3\");\r\n"
         "user_pref(\"mail.server.server1.hostname\", \"h\");\r\n",
         {"h|POP3|h|||"}},
    };
    for (const auto& r : rows) {
        std::vector<std::string> got;
        for (const auto& a : ThunderbirdProfiles::ParsePrefs(r.prefs))
            got.push_back(a.name + "|" + a.kind + "|" + a.server + "|" + a.port + "|" + a.userName +
                          "|" + a.security);
        EXPECT_EQ(got, r.expected) << r.name;
    }
}

// A Thunderbird folder made by the test: two profiles, the second the default one.
TEST(ThunderbirdImport, ProfileFolderIntoTheDialog)
{
    UiSandbox sandbox;
    const std::string root = sandbox.Dir().File("tb");
    fs::create_directories(root + "/abc.default");
    fs::create_directories(sandbox.Dir().File("elsewhere"));
    WriteWholeFile(root + "/profiles.ini",
                   "[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=old\nIsRelative=0\n"
                   "Path=" +
                       sandbox.Dir().File("elsewhere") +
                       "\n\n[Profile1]\nName=default\nIsRelative=1\nPath=abc.default\n"
                       "Default=1\n");
    WriteWholeFile(root + "/abc.default/prefs.js",
                   "// Mozilla User Preferences\n"
                   "user_pref(\"mail.server.server1.type\", \"imap\");\n"
                   "user_pref(\"mail.server.server1.hostname\", \"imap.example.org\");\n"
                   "user_pref(\"mail.server.server1.userName\", \"ann\");\n"
                   "user_pref(\"mail.server.server1.name\", \"Home\");\n");
    WriteWholeFile(sandbox.Dir().File("elsewhere") + "/prefs.js",
                   "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
                   "user_pref(\"mail.server.server1.hostname\", \"pop.example.org\");\n"
                   "user_pref(\"mail.server.server1.name\", \"Old\");\n");
    auto accounts = ThunderbirdProfiles::ReadAccounts(root);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].name, "Home"); // the default profile first
    EXPECT_EQ(accounts[1].name, "Old");
    EXPECT_TRUE(ThunderbirdProfiles::ReadAccounts(sandbox.Dir().File("missing")).empty());

    struct Row {
        const char* name;
        int click; // -1: leave the first row chosen
        bool doubleClick;
        bool cancel;
        const char* chosen; // nullptr: nothing
    } rows[] = {
        {"first-row-by-default", -1, false, false, "Home"},
        {"click-chooses", 1, false, false, "Old"},
        {"double-click-is-ok", 1, true, false, "Old"},
        {"cancel-gives-nothing", 1, false, true, nullptr},
    };
    for (const auto& r : rows) {
        CImportDlg dlg(accounts);
        ASSERT_EQ(dlg.List()->topLevelItemCount(), 2) << r.name;
        EXPECT_EQ(dlg.List()->headerItem()->text(0), QStringLiteral("Account")) << r.name;
        if (r.click >= 0)
            dlg.List()->setCurrentItem(dlg.List()->topLevelItem(r.click));
        if (r.doubleClick)
            emit dlg.List()->itemDoubleClicked(dlg.List()->topLevelItem(r.click), 0);
        else if (r.cancel)
            dlg.reject();
        else
            dlg.accept();
        EXPECT_EQ(dlg.result(), r.cancel ? QDialog::Rejected : QDialog::Accepted) << r.name;
        if (r.chosen && !r.cancel) {
            ASSERT_TRUE(dlg.Chosen()) << r.name;
            EXPECT_EQ(dlg.Chosen()->name, r.chosen) << r.name;
        } else {
            EXPECT_FALSE(dlg.Chosen() && r.cancel) << r.name;
        }
    }
    CImportDlg empty({});
    empty.accept();
    EXPECT_FALSE(empty.Chosen());
}

} // namespace
