#include "viewprofile.h"

#include "programkey.h"
#include "registrykey.h"

namespace
{

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
const char kPreviewPaneEntry[] = "PreviewPane";

std::string SettingsKey()
{
    return ProgramKey::Path("Settings");
}

} // namespace

bool ViewProfile::PreviewPaneShown()
{
    CRegistryKey key;
    uint32_t value = 0;
    if (!key.Open(kUser, SettingsKey()) || !key.ReadDword(kPreviewPaneEntry, value))
        return kPreviewPaneDefault;
    return value != 0;
}

bool ViewProfile::SetPreviewPaneShown(bool shown)
{
    CRegistryKey key;
    // The key is not one that the start-up preparation makes: the first change makes it.
    if (!key.Open(kUser, SettingsKey()) &&
        !(key.CreateKey(kUser, SettingsKey()) && key.Open(kUser, SettingsKey())))
        return false;
    return key.WriteDword(kPreviewPaneEntry, shown ? 1 : 0) != 0;
}
