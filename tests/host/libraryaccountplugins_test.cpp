// What the account table, the wizard and the properties dialog learn from the libraries,
// bounded by the buffers the host handed them.
#include "libraryaccountplugins.h"
#include "support/tablerow.h"

#include <cstring>
#include <gtest/gtest.h>

namespace
{

int g_profileCalls = 0;

int32_t Put(char** names, std::initializer_list<const char*> list)
{
    int32_t n = 0;
    for (const char* name : list)
        std::strcpy(names[n++], name);
    return n;
}

struct PluginsRow {
    const char* name;
    int32_t (*mapiExist)();
    int32_t (*profiles)(char**);
    int32_t (*categories)(const char**);
    int mapiPresent;
    std::vector<std::string> expectProfiles;
    std::vector<std::string> expectCategories;
    int profileCalls; // GetProfiles is asked only when a provider is present
};
POSTWATCH_ROW_PRINTS_NAME(PluginsRow)

int32_t Yes()
{
    return 1;
}
int32_t No()
{
    return 0;
}
int32_t Odd()
{
    return 7; // any non-zero answer means present
}
int32_t TwoProfiles(char** names)
{
    ++g_profileCalls;
    return Put(names, {"Local mail", "Work"});
}
int32_t TooManyProfiles(char** names)
{
    ++g_profileCalls;
    for (int i = 0; i < PW_PROFILES_MAX; ++i)
        std::snprintf(names[i], PW_PROFILE_NAME_SIZE, "P%d", i);
    return 99;
}
int32_t NegativeProfiles(char**)
{
    ++g_profileCalls;
    return -1;
}
int32_t UnterminatedAndEmpty(char** names)
{
    ++g_profileCalls;
    std::memset(names[0], 'x', PW_PROFILE_NAME_SIZE); // no terminator inside its buffer
    names[1][0] = '\0';
    std::strcpy(names[2], "ok");
    return 3;
}
int32_t TwoCategories(const char** entries)
{
    entries[0] = "Yahoo";
    entries[1] = "Hotmail";
    return 2;
}
int32_t TooManyCategories(const char** entries)
{
    for (int i = 0; i < LibraryAccountPlugins::kCategoryEntries; ++i)
        entries[i] = "C";
    return 40;
}
int32_t GapsInCategories(const char** entries)
{
    entries[0] = nullptr;
    entries[1] = "";
    entries[2] = "Hotmail";
    return 3;
}
int32_t NegativeCategories(const char**)
{
    return -5;
}

std::vector<std::string> Many(const char* prefix, int n, bool numbered)
{
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i)
        v.push_back(numbered ? prefix + std::to_string(i) : std::string(prefix));
    return v;
}

const PluginsRow kRows[] = {
    {"ProfilesAndCategoriesInOrder",
     Yes,
     TwoProfiles,
     TwoCategories,
     1,
     {"Local mail", "Work"},
     {"Yahoo", "Hotmail"},
     1},
    {"NoProviderAsksForNoProfiles", No, TwoProfiles, TwoCategories, 0, {}, {"Yahoo", "Hotmail"}, 0},
    {"AnyNonZeroMeansPresent",
     Odd,
     TwoProfiles,
     TwoCategories,
     1,
     {"Local mail", "Work"},
     {"Yahoo", "Hotmail"},
     1},
    {"CountsBeyondTheBuffersAreCut", Yes, TooManyProfiles, TooManyCategories, 1,
     Many("P", PW_PROFILES_MAX, true), Many("C", LibraryAccountPlugins::kCategoryEntries, false),
     1},
    {"NegativeCountsGiveNothing", Yes, NegativeProfiles, NegativeCategories, 1, {}, {}, 1},
    {"BrokenNamesAreLeftOut",
     Yes,
     UnterminatedAndEmpty,
     GapsInCategories,
     1,
     {"ok"},
     {"Hotmail"},
     1},
};

class Plugins : public ::testing::TestWithParam<PluginsRow>
{
};

TEST_P(Plugins, Answers)
{
    const PluginsRow& row = GetParam();
    g_profileCalls = 0;
    MapiprobeFunctions mapiprobe;
    mapiprobe.checkMapiExist = row.mapiExist;
    mapiprobe.getProfiles = row.profiles;
    PortalpostFunctions portalpost;
    portalpost.getCategory = row.categories;
    LibraryAccountPlugins plugins(portalpost, mapiprobe);
    EXPECT_EQ(plugins.MapiPresent(), row.mapiPresent);
    EXPECT_EQ(plugins.Profiles(), row.expectProfiles);
    EXPECT_EQ(plugins.PortalpostCategories(), row.expectCategories);
    EXPECT_EQ(g_profileCalls, row.profileCalls);
}

INSTANTIATE_TEST_SUITE_P(Table, Plugins, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
