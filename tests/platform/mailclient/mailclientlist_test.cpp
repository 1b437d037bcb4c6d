#include "desktopentry.h"
#include "mailclientlist.h"
#include "support/tempdir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace
{

TEST(DesktopEntry, CommandDropsFieldCodes)
{
    struct Row {
        const char* label;
        std::string exec;
        std::string command;
    };
    const Row rows[] = {
        {"url code alone", "mailer %u", "mailer"},
        {"list code between options", "mailer -c %U --new", "mailer -c --new"},
        {"code glued to an option", "mailer --compose=%u", "mailer --compose="},
        {"every field code", "mailer %f %F %u %U %d %D %n %N %i %c %k %v %m", "mailer"},
        {"double percent is a percent", "mailer --ratio=100%%", "mailer --ratio=100%"},
        {"unknown code stays", "mailer %x", "mailer %x"},
        {"quoted path with blanks", "\"/opt/My Mail/mail\" %u", "\"/opt/My Mail/mail\""},
        {"escaped quote inside quotes", "sh -c \"echo \\\"hi\\\"\"",
         "sh -c \"echo \"\"\"hi\"\"\"\""},
        {"extra blanks", "  mailer   -x  ", "mailer -x"},
        {"empty quoted argument kept", "mailer \"\" %u", "mailer \"\""},
        {"empty", "", ""},
        {"codes only", "%u %F", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(DesktopEntry::CommandFromExec(row.exec), row.command);
    }
}

TEST(DesktopEntry, ParsesTheMainGroup)
{
    struct Row {
        const char* label;
        std::string content;
        bool loads;
        std::string name;
        std::string exec;
        bool mailto;
        bool usable;
    };
    const std::string head = "[Desktop Entry]\nType=Application\n";
    const Row rows[] = {
        {"plain", head + "Name=Mailer\nExec=mailer %u\nMimeType=x-scheme-handler/mailto;\n", true,
         "Mailer", "mailer %u", true, true},
        {"blanks around equals and escapes", head + "Name = Big\\sMail\nExec = big\\\\x %u\n", true,
         "Big Mail", "big\\x %u", false, true},
        {"localised name ignored", head + "Name[de]=Post\nName=Mail\nExec=m\n", true, "Mail", "m",
         false, true},
        {"type in another case",
         "[Desktop Entry]\nType=application\nExec=m\nMimeType=X-Scheme-Handler/MAILTO\n", true, "",
         "m", true, false},
        {"hidden", head + "Exec=m\nHidden=true\n", true, "", "m", false, false},
        {"action group does not count",
         head + "Exec=m\n[Desktop Action new]\nExec=other\nName=New\n", true, "", "m", false, true},
        {"comment lines", head + "# Exec=no\nExec=yes\n", true, "", "yes", false, true},
        {"no main group", "[Something]\nExec=m\n", false, "", "", false, false},
        {"no command", head + "Name=X\n", true, "X", "", false, false},
        {"binary junk", std::string("\0\xff[\n=\n", 6), false, "", "", false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        DesktopEntry entry;
        EXPECT_EQ(entry.Parse(row.content), row.loads);
        EXPECT_EQ(entry.Name(), row.name);
        EXPECT_EQ(entry.Exec(), row.exec);
        EXPECT_EQ(entry.HandlesMimeType(MailClientList::kMailtoType), row.mailto);
        EXPECT_EQ(entry.IsUsableApplication(), row.usable);
    }
}

// A desktop made of files: each scenario gets fresh XDG folders.
class MailClientTest : public ::testing::Test
{
protected:
    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", dir.File("sysconfig")};
    ScopedEnv dataHome{"XDG_DATA_HOME", dir.File("data")};
    ScopedEnv dataDirs{"XDG_DATA_DIRS", dir.File("sysdata") + ":" + dir.File("sysdata2")};
    ScopedEnv desktop{"XDG_CURRENT_DESKTOP", "Test:Other"};

    // Writes files below the temporary folder (path relative to it).
    void Make(const std::map<std::string, std::string>& files)
    {
        for (const auto& [path, content] : files) {
            std::filesystem::create_directories(
                std::filesystem::path(dir.File(path)).parent_path());
            WriteWholeFile(dir.File(path), content);
        }
    }
};

std::string Handler(const std::string& name, const std::string& exec)
{
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
           "\nMimeType=text/plain;x-scheme-handler/mailto;\n";
}

const std::string kNotMail = "[Desktop Entry]\nType=Application\nName=Editor\nExec=edit %f\n";

TEST_F(MailClientTest, FindsTheDefaultClient)
{
    struct Row {
        const char* label;
        std::map<std::string, std::string> files;
        bool found;
        std::string id;
        std::string name;
        std::string command;
    };
    const std::string defaults = "[Default Applications]\nx-scheme-handler/mailto=";
    const Row rows[] = {
        {"user default",
         {{"sysdata/applications/a.desktop", Handler("Alpha", "alpha %u")},
          {"sysdata/applications/b.desktop", Handler("Beta", "beta --compose %u")},
          {"config/mimeapps.list", defaults + "b.desktop;\n"}},
         true,
         "b.desktop",
         "Beta",
         "beta --compose"},
        {"missing first choice is passed over",
         {{"sysdata/applications/a.desktop", Handler("Alpha", "alpha")},
          {"config/mimeapps.list", defaults + "gone.desktop;a.desktop;\n"}},
         true,
         "a.desktop",
         "Alpha",
         "alpha"},
        {"desktop-specific file wins",
         {{"sysdata/applications/a.desktop", Handler("Alpha", "alpha")},
          {"sysdata/applications/b.desktop", Handler("Beta", "beta")},
          {"config/mimeapps.list", defaults + "a.desktop\n"},
          {"config/test-mimeapps.list", defaults + "b.desktop\n"}},
         true,
         "b.desktop",
         "Beta",
         "beta"},
        {"user config beats system data",
         {{"sysdata/applications/a.desktop", Handler("Alpha", "alpha")},
          {"sysdata/applications/b.desktop", Handler("Beta", "beta")},
          {"sysdata/applications/mimeapps.list", defaults + "a.desktop\n"},
          {"sysconfig/mimeapps.list", defaults + "b.desktop\n"}},
         true,
         "b.desktop",
         "Beta",
         "beta"},
        {"legacy defaults.list",
         {{"sysdata/applications/a.desktop", Handler("Alpha", "alpha")},
          {"sysdata/applications/b.desktop", Handler("Beta", "beta")},
          {"sysdata/applications/defaults.list", defaults + "b.desktop\n"}},
         true,
         "b.desktop",
         "Beta",
         "beta"},
        {"mime type in another case",
         {{"sysdata/applications/b.desktop", Handler("Beta", "beta")},
          {"sysdata/applications/a.desktop", Handler("Alpha", "alpha")},
          {"config/mimeapps.list", "[Default Applications]\nX-Scheme-Handler/Mailto=b.desktop\n"}},
         true,
         "b.desktop",
         "Beta",
         "beta"},
        {"no association: first handler by id",
         {{"sysdata/applications/zz.desktop", Handler("Zed", "zed")},
          {"sysdata/applications/mm.desktop", Handler("Em", "em")},
          {"sysdata/applications/aa.desktop", kNotMail}},
         true,
         "mm.desktop",
         "Em",
         "em"},
        {"added association before declared handlers",
         {{"sysdata/applications/a.desktop", Handler("Alpha", "alpha")},
          {"sysdata/applications/plain.desktop", kNotMail},
          {"config/mimeapps.list",
           "[Added Associations]\nx-scheme-handler/mailto=plain.desktop;\n"}},
         true,
         "plain.desktop",
         "Editor",
         "edit"},
        {"removed association",
         {{"sysdata/applications/a.desktop", Handler("Alpha", "alpha")},
          {"sysdata/applications/b.desktop", Handler("Beta", "beta")},
          {"config/mimeapps.list", "[Removed Associations]\nx-scheme-handler/mailto=a.desktop\n"}},
         true,
         "b.desktop",
         "Beta",
         "beta"},
        {"sub-folder id",
         {{"sysdata/applications/kde/mail.desktop", Handler("Kay", "kay %U")},
          {"sysdata/applications/a.desktop", Handler("Alpha", "alpha")},
          {"config/mimeapps.list", defaults + "kde-mail.desktop\n"}},
         true,
         "kde-mail.desktop",
         "Kay",
         "kay"},
        {"user entry shadows the system one",
         {{"sysdata/applications/a.desktop", Handler("System", "sys")},
          {"data/applications/a.desktop", Handler("Mine", "mine")}},
         true,
         "a.desktop",
         "Mine",
         "mine"},
        {"hidden user entry removes the system one",
         {{"sysdata/applications/a.desktop", Handler("System", "sys")},
          {"data/applications/a.desktop", "[Desktop Entry]\nType=Application\nHidden=true\n"},
          {"config/mimeapps.list", defaults + "a.desktop\n"}},
         false,
         "",
         "",
         ""},
        {"second data folder",
         {{"sysdata2/applications/a.desktop", Handler("Second", "second")}},
         true,
         "a.desktop",
         "Second",
         "second"},
        {"nothing handles mailto",
         {{"sysdata/applications/e.desktop", kNotMail}},
         false,
         "",
         "",
         ""},
        {"nothing installed", {}, false, "", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directories(dir.Path());
        Make(row.files);
        MailClientInfo client;
        EXPECT_EQ(MailClientList::ReadDefault(client), row.found);
        EXPECT_EQ(client.id, row.id);
        EXPECT_EQ(client.name, row.name);
        EXPECT_EQ(client.command, row.command);
    }
}

TEST_F(MailClientTest, ListsInstalledClientsDefaultFirst)
{
    Make({{"sysdata/applications/alpha.desktop", Handler("Alpha", "alpha %u")},
          {"sysdata/applications/beta.desktop", Handler("Beta", "beta")},
          {"sysdata/applications/gamma.desktop", Handler("Gamma", "gamma")},
          {"sysdata/applications/edit.desktop", kNotMail},
          {"sysdata/applications/gone.desktop",
           "[Desktop Entry]\nType=Application\nHidden=true\nExec=g\n"
           "MimeType=x-scheme-handler/mailto\n"},
          {"config/mimeapps.list",
           "[Default Applications]\nx-scheme-handler/mailto=gamma.desktop\n"}});
    std::vector<std::string> ids;
    for (const auto& c : MailClientList::ReadInstalled())
        ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"gamma.desktop", "alpha.desktop", "beta.desktop"}));
}

} // namespace
