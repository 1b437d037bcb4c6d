#include "libraryaccountplugins.h"

#include <algorithm>
#include <cstring>

LibraryAccountPlugins::LibraryAccountPlugins(PortalpostFunctions portalpost,
                                             MapiprobeFunctions mapiprobe)
    : portalpost_(portalpost), mapiprobe_(mapiprobe),
      mapiPresent_(mapiprobe_.checkMapiExist() != 0 ? 1 : 0)
{
}

std::vector<std::string> LibraryAccountPlugins::Profiles() const
{
    if (!mapiPresent_)
        return {};
    std::vector<std::vector<char>> buffers(PW_PROFILES_MAX,
                                           std::vector<char>(PW_PROFILE_NAME_SIZE, '\0'));
    char* names[PW_PROFILES_MAX];
    for (int i = 0; i < PW_PROFILES_MAX; ++i)
        names[i] = buffers[i].data();
    const int32_t n = std::clamp<int32_t>(mapiprobe_.getProfiles(names), 0, PW_PROFILES_MAX);
    std::vector<std::string> profiles;
    for (int32_t i = 0; i < n; ++i) {
        const std::vector<char>& b = buffers[i];
        const size_t length = strnlen(b.data(), b.size());
        if (length == 0 || length == b.size())
            continue; // empty, or filled to the end without a terminator
        profiles.emplace_back(b.data(), length);
    }
    return profiles;
}

std::vector<std::string> LibraryAccountPlugins::PortalpostCategories() const
{
    const char* entries[kCategoryEntries] = {};
    const int32_t n = std::clamp<int32_t>(portalpost_.getCategory(entries), 0, kCategoryEntries);
    std::vector<std::string> categories;
    for (int32_t i = 0; i < n; ++i)
        if (entries[i] && *entries[i])
            categories.emplace_back(entries[i]);
    return categories;
}
