#include "notifieroptions.h"

#include "apppaths.h"
#include "programkey.h"
#include "registrykey.h"

#include <algorithm>
#include <cerrno>

namespace
{

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;

std::string OptionsKey()
{
    return ProgramKey::Path("Options");
}

void ReadText(CRegistryKey& key, const char* name, std::string& value)
{
    std::string text;
    if (key.ReadString(name, text, CNotifierOptions::kStringSize))
        value = text;
}

void ReadFlag(CRegistryKey& key, const char* name, bool& value)
{
    uint32_t number = 0;
    if (key.ReadDword(name, number))
        value = number != 0;
}

void ReadInt(CRegistryKey& key, const char* name, int& value)
{
    uint32_t number = 0;
    if (key.ReadDword(name, number))
        value = static_cast<int32_t>(number);
}

std::string RecentName(const std::string& prefix, int n)
{
    return prefix + std::to_string(n);
}

} // namespace

CNotifierOptions::CNotifierOptions()
    : modelDir(AppPaths::AssetDir() + "/Model/"), textureDir(AppPaths::AssetDir() + "/Texture/")
{
}

bool CNotifierOptions::Load()
{
    CRegistryKey key;
    if (!key.Open(kUser, OptionsKey()))
        return false;
    ReadText(key, "ModelDir", modelDir);
    ReadText(key, "TextureDir", textureDir);
    ReadFlag(key, "TopMost", topMost);
    ReadFlag(key, "UsePackageModel", usePackageModel);
    ReadFlag(key, "UsePackageTexture", usePackageTexture);
    ReadInt(key, "LastPosX", lastPosX);
    ReadInt(key, "LastPosY", lastPosY);
    lastPosX = std::clamp(lastPosX, kNearestPosition, kFarthestPosition);
    lastPosY = std::clamp(lastPosY, kNearestPosition, kFarthestPosition);
    ReadInt(key, "Size", size);
    if (!ValidSize(size))
        size = 2;
    ReadFlag(key, "DBClickClose", dbClickClose);
    ReadFlag(key, "DBClickShow", dbClickShow);
    if (dbClickShow)
        dbClickClose = false;
    ReadText(key, "LastSelectModel", lastSelectModel);
    ReadText(key, "LastSelectTexture", lastSelectTexture);
    return true;
}

bool CNotifierOptions::Save() const
{
    CRegistryKey key;
    if (!key.Open(kUser, OptionsKey()) &&
        !(key.CreateKey(kUser, OptionsKey()) && key.Open(kUser, OptionsKey())))
        return false;
    bool ok = key.WriteString("ModelDir", modelDir);
    ok = key.WriteString("TextureDir", textureDir) && ok;
    ok = key.WriteDword("TopMost", topMost ? 1 : 0) && ok;
    ok = key.WriteDword("UsePackageModel", usePackageModel ? 1 : 0) && ok;
    ok = key.WriteDword("UsePackageTexture", usePackageTexture ? 1 : 0) && ok;
    ok = key.WriteDword("LastPosX", static_cast<uint32_t>(lastPosX)) && ok;
    ok = key.WriteDword("LastPosY", static_cast<uint32_t>(lastPosY)) && ok;
    ok = key.WriteDword("Size", static_cast<uint32_t>(size)) && ok;
    ok = key.WriteDword("DBClickClose", dbClickClose ? 1 : 0) && ok;
    ok = key.WriteDword("DBClickShow", dbClickShow ? 1 : 0) && ok;
    ok = key.WriteString("LastSelectModel", lastSelectModel) && ok;
    ok = key.WriteString("LastSelectTexture", lastSelectTexture) && ok;
    return ok;
}

std::string CNotifierOptions::ModelPath() const
{
    return usePackageModel ? modelDir + lastSelectModel : lastSelectModel;
}

std::string CNotifierOptions::TexturePath() const
{
    return usePackageTexture ? textureDir + lastSelectTexture : lastSelectTexture;
}

bool CNotifierOptions::ReadRecent(const std::string& prefix, std::vector<std::string>& paths)
{
    paths.clear();
    CRegistryKey key;
    if (!key.Open(kUser, OptionsKey()))
        return false;
    for (int n = 1; n <= kRecentCount; ++n) {
        std::string value;
        if (key.ReadString(RecentName(prefix, n), value, kStringSize) && !value.empty())
            paths.push_back(value);
    }
    return true;
}

bool CNotifierOptions::RememberRecent(const std::string& prefix, const std::string& path)
{
    CRegistryKey key;
    if (!key.Open(kUser, OptionsKey()))
        return false;
    for (int n = kRecentCount; n >= 1; --n) {
        std::string value;
        if (key.ReadString(RecentName(prefix, n), value, kStringSize) && value == path)
            return true;
    }
    bool ok = true;
    for (int n = kRecentCount - 1; n >= 1; --n) {
        std::string value;
        if (key.ReadString(RecentName(prefix, n), value, kStringSize))
            ok = key.WriteString(RecentName(prefix, n + 1), value) && ok;
        else if (key.LastError() == ENOENT)
            key.DeleteValue(RecentName(prefix, n + 1)); // a gap moves down as a gap
    }
    return key.WriteString(RecentName(prefix, 1), path) && ok;
}
