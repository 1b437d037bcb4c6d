// Which profiles and stores the provider offers: configured in the settings store, or found
// in the user's usual Maildir places, including the one-folder-per-account layout of sync
// tools; and what logging on to each gives.
#include "maildirfixture.h"
#include "maildirprovider.h"
#include "programkey.h"
#include "registrykey.h"
#include "support/tablerow.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

struct ProfileRow {
    const char* name;
    std::vector<const char*> maildirs; // Maildirs made below the home folder
    const char* maildirEnv;            // $MAILDIR below the home folder, or null
    std::vector<std::pair<const char*, const char*>> settings; // profile -> roots ("@" = home)
    const char* wantProfiles;                                  // "A|B"
    const char* open;                                          // profile to log on to
    ProviderStatus wantStatus;
    const char* wantStores; // display names, the default first, "|" between
    bool present;
};
POSTWATCH_ROW_PRINTS_NAME(ProfileRow)

const ProfileRow kRows[] = {
    {"MaildirVariable",
     {"mail/box", "Maildir"},
     "mail/box",
     {},
     "Local mail",
     "Local mail",
     ProviderStatus::kOk,
     "box",
     true},
    {"HomeMaildir",
     {"Maildir", ".mail/a"},
     nullptr,
     {},
     "Local mail",
     "local MAIL",
     ProviderStatus::kOk,
     "Maildir",
     true},
    {"VariableNotAMaildir",
     {"Maildir"},
     "nothing-here",
     {},
     "Local mail",
     "Local mail",
     ProviderStatus::kOk,
     "Maildir",
     true},
    {"SyncToolLayout",
     {".mail/work", ".mail/home", ".mail/work/.Sent"},
     nullptr,
     {},
     "Local mail",
     "Local mail",
     ProviderStatus::kOk,
     "home|work",
     true},
    {"Configured",
     {"Maildir", "archive/old"},
     nullptr,
     {{"Work", "@/Maildir ; @/archive/old;"}},
     "Work",
     "work",
     ProviderStatus::kOk,
     "Maildir|old",
     true},
    {"RelativeRootsBelowHome",
     {"Maildir", "archive/old"},
     nullptr,
     {{"Work", "Maildir;~/archive/old"}},
     "Work",
     "Work",
     ProviderStatus::kOk,
     "Maildir|old",
     true},
    {"ConfiguredInOrder",
     {"a", "b"},
     nullptr,
     {{"beta", "@/b"}, {"Alpha", "@/a"}},
     "Alpha|beta",
     "beta",
     ProviderStatus::kOk,
     "b",
     true},
    {"NameWithSlashes",
     {"a"},
     nullptr,
     {{"Work/Home \\ 50%", "@/a"}},
     "Work/Home \\ 50%",
     "work/home \\ 50%",
     ProviderStatus::kOk,
     "a",
     true},
    {"ConfiguredWinsOverHome",
     {"Maildir"},
     nullptr,
     {{"Other", "@/elsewhere"}},
     "Other",
     "Other",
     ProviderStatus::kLogonFailed,
     "",
     false},
    // Must fail: nothing to offer or nothing to log on to.
    {"NoMailAnywhere", {}, nullptr, {}, "", "Local mail", ProviderStatus::kLogonFailed, "", false},
    {"UnknownProfile",
     {"Maildir"},
     nullptr,
     {},
     "Local mail",
     "Work",
     ProviderStatus::kLogonFailed,
     "",
     true},
};

class MaildirProfiles : public ::testing::TestWithParam<ProfileRow>
{
};

std::string Join(const std::vector<std::string>& parts)
{
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() ? "" : "|") + p;
    return out;
}

TEST_P(MaildirProfiles, OffersWhatIsThere)
{
    const ProfileRow& row = GetParam();
    TempDir dir;
    const std::string home = dir.File("home");
    std::filesystem::create_directories(home);
    ScopedEnv homeEnv("HOME", home);
    ScopedEnv config("XDG_CONFIG_HOME", dir.File("config"));
    ScopedEnv maildirEnv("MAILDIR", row.maildirEnv ? home + "/" + row.maildirEnv : "");
    for (const char* maildir : row.maildirs)
        MakeMaildir(home + "/" + maildir);
    if (!row.settings.empty()) {
        CRegistryKey key;
        const std::string path = ProgramKey::Path("Mapiprobe\\Profiles");
        ASSERT_TRUE(key.CreateKey(RegistryRoot::CurrentUser, path));
        ASSERT_TRUE(key.Open(RegistryRoot::CurrentUser, path));
        for (const auto& [name, roots] : row.settings) {
            std::string value = roots;
            for (size_t at; (at = value.find('@')) != std::string::npos;)
                value.replace(at, 1, home);
            ASSERT_TRUE(key.WriteString(name, value));
        }
    }

    MaildirProvider provider;
    EXPECT_EQ(Join(provider.Profiles()), row.wantProfiles);
    EXPECT_EQ(provider.Present(), row.present);
    std::vector<ProviderStore> stores;
    std::string why;
    ASSERT_EQ(provider.OpenProfile(row.open, stores, &why), row.wantStatus) << why;
    std::vector<std::string> names;
    for (const ProviderStore& store : stores) {
        names.push_back(store.displayName);
        EXPECT_EQ(store.isDefault, &store == &stores.front());
        EXPECT_FALSE(store.publicFolders || store.primaryIdentity);
    }
    EXPECT_EQ(Join(names), row.wantStores);
    if (row.wantStatus != ProviderStatus::kOk)
        EXPECT_FALSE(why.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, MaildirProfiles, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
