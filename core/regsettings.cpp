#include "regsettings.h"

#include "apppaths.h"
#include "leddevice.h"
#include "mailclientlist.h"
#include "oauthprovider.h"
#include "programkey.h"
#include "webmailendpoints.h"

#include <functional>
#include <span>
#include <variant>
#include <vector>

namespace
{

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;

using General = CRegSettings::General;
using Network = CRegSettings::Network;
using Notify = CRegSettings::Notify;

// The kind of a value is the type of its member: text, switch, number or DWORD.
template <class Group>
using Member = std::variant<SettingValue<std::string> Group::*, SettingValue<bool> Group::*,
                            SettingValue<int> Group::*, SettingValue<uint32_t> Group::*>;

template <class Group> struct Field {
    const char* name;
    Member<Group> member;
    size_t readSize = CRegSettings::kValueSize;
};

template <class Group> struct Table {
    const char* key;
    std::span<const Field<Group>> fields;
};

const Field<General> kGeneralFields[] = {
    {"Startup", &General::startup},
    {"Minimum", &General::minimum, CRegSettings::kShortValueSize},
    {"MailClient", &General::mailClient},
    {"MailClientPath", &General::mailClientPath},
    {"DefaultExchange", &General::defaultExchange},
    {"AutoStartExchange", &General::autoStartExchange},
    {"KeepPasswordsInKeyring", &General::keepPasswordsInKeyring},
};

const Field<Network> kNetworkFields[] = {
    {"UseConnection", &Network::useConnection},
    {"DialupEntry", &Network::dialupEntry},
    {"AutoHangupAfterCheck", &Network::autoHangupAfterCheck},
    {"UseExistDialup", &Network::useExistDialup},
    // The spelling the value was always written under; value names ignore case, so readers
    // asking for "TimeOut" find it too.
    {"Timeout", &Network::timeOut, CRegSettings::kShortValueSize},
    {"ShowProgress", &Network::showProgress},
};

const Field<Notify> kNotifyFields[] = {
    {"FlashIcon", &Notify::flashIcon},
    {"MailLED", &Notify::mailLed},
    {"MailClient", &Notify::mailClient},
    {"3dEffect", &Notify::effect3d},
    {"Message", &Notify::message},
    {"Sound", &Notify::sound},
    {"SoundFileName", &Notify::soundFileName},
    {"DesktopNotify", &Notify::desktopNotify},
    {"QuietFrom", &Notify::quietFrom},
    {"QuietUntil", &Notify::quietUntil},
    {"FollowDoNotDisturb", &Notify::followDoNotDisturb},
};

const Table<General> kGeneral{"General", kGeneralFields};
const Table<Network> kNetwork{"Network", kNetworkFields};
const Table<Notify> kNotify{"Notify", kNotifyFields};

// Calls f(field, value) for every value of the group, in table order.
template <class Group, class F> void ForEachValue(Group& group, const Table<Group>& table, F&& f)
{
    for (const Field<Group>& field : table.fields)
        std::visit([&](auto member) { f(field, group.*member); }, field.member);
}

template <class Group> int LoadGroup(CRegistryKey& key, const Table<Group>& table, Group& group)
{
    const bool open = key.Open(kUser, ProgramKey::Path(table.key));
    ForEachValue(group, table, [&](const Field<Group>& field, auto& value) {
        if (open)
            value.Load(key, field.name, field.readSize);
        else
            value.Forget();
    });
    if (open)
        key.Close();
    return open ? 1 : 0;
}

// Writes every value into the open key; false when one could not be written.
template <class Group> bool WriteGroup(CRegistryKey& key, const Table<Group>& table, Group& group)
{
    bool ok = true;
    ForEachValue(group, table, [&](const Field<Group>& field, auto& value) {
        ok = value.Save(key, field.name) && ok;
    });
    return ok;
}

template <class Group> int SaveGroup(CRegistryKey& key, const Table<Group>& table, Group& group)
{
    if (!key.Open(kUser, ProgramKey::Path(table.key)))
        return 0;
    WriteGroup(key, table, group);
    key.Close();
    return 1;
}

enum class Ensured { Existed, Created, Failed };

// Opens the key, or creates it when that fails; says which happened.
Ensured EnsureKey(const std::string& path)
{
    CRegistryKey key;
    if (key.Open(kUser, path))
        return Ensured::Existed;
    if (!key.CreateKey(kUser, path) || !key.Open(kUser, path))
        return Ensured::Failed;
    return Ensured::Created;
}

using DefaultsWriter = std::function<bool(CRegistryKey&)>;

// Ensures the group and, only when it was created now, writes its defaults. False on failure.
bool EnsureGroup(const std::string& group, const DefaultsWriter& writeDefaults)
{
    std::string path = ProgramKey::Path(group);
    Ensured state = EnsureKey(path);
    if (state == Ensured::Failed)
        return false;
    if (state == Ensured::Existed || !writeDefaults)
        return true;
    CRegistryKey key;
    return key.Open(kUser, path) && writeDefaults(key);
}

template <class Group> bool EnsureGroup(const Table<Group>& table, Group& defaults)
{
    return EnsureGroup(table.key,
                       [&](CRegistryKey& key) { return WriteGroup(key, table, defaults); });
}

// The 3D notifier's options are read by the notifier itself; only their first defaults are
// written here.
struct OptionDefault {
    const char* name;
    std::string text;
    bool isDword;
    uint32_t number;
};

OptionDefault Sz(const char* name, std::string text)
{
    return {name, std::move(text), false, 0};
}
OptionDefault Dword(const char* name, uint32_t number)
{
    return {name, {}, true, number};
}

std::string AssetPath(const std::string& relative)
{
    return AppPaths::AssetDir() + "/" + relative;
}

bool WriteOptionDefaults(CRegistryKey& key)
{
    const OptionDefault defaults[] = {
        Sz("ModelDir", AssetPath("Model/")),
        Sz("TextureDir", AssetPath("Texture/")),
        Dword("TopMost", 1),
        Dword("UsePackageModel", 1),
        Dword("UsePackageTexture", 1),
        Dword("LastPosX", 0),
        Dword("LastPosY", 0),
        Dword("Size", 2),
        Dword("DBClickClose", 0),
        Dword("DBClickShow", 1),
        Sz("LastSelectModel", "default.x"),
        Sz("LastSelectTexture", "default.bmp"),
    };
    bool ok = true;
    for (const OptionDefault& v : defaults)
        ok = (v.isDword ? key.WriteDword(v.name, v.number) : key.WriteString(v.name, v.text)) && ok;
    return ok;
}

} // namespace

int CRegSettings::Prepare()
{
    CLedDevice led;
    return Prepare(led);
}

int CRegSettings::Prepare(CLedDevice& led)
{
    bool ok = EnsureKey("Software") != Ensured::Failed;
    ok = ok && EnsureKey("Software\\" + CRegistryKey::EscapeKeyName(ProgramKey::CompanyWord())) !=
                   Ensured::Failed;
    ok = ok && EnsureKey(ProgramKey::Path()) != Ensured::Failed;
    if (!ok) {
        led.Open(); // the LED is opened whatever happens to the settings
        return 0;
    }

    CRegSettings defaults;
    {
        CRegistryKey probe;
        MailClientInfo client;
        // The mail-client lookup reads many files; do it only for a first start.
        if (!probe.Open(kUser, ProgramKey::Path(kGeneral.key)) &&
            MailClientList::ReadDefault(client)) {
            defaults.general.mailClient.Set(client.name);
            defaults.general.mailClientPath.Set(client.command);
        }
    }
    ok = EnsureGroup(kGeneral, defaults.general) && ok;
    ok = EnsureGroup(kNetwork, defaults.network) && ok;

    led.Open();
    defaults.notify.mailLed.Set(led.HasMailLed());
    defaults.notify.soundFileName.Set(AssetPath("Sound/Notify.wav"));
    ok = EnsureGroup(kNotify, defaults.notify) && ok;

    ok = EnsureGroup("Filter Manager", nullptr) && ok;
    ok = EnsureGroup("Options", WriteOptionDefaults) && ok;
    // The web-mail endpoints are settings a user may have changed: only absent ones are
    // written, also into a key that exists.
    ok = WriteMissingWebMailEndpoints() == 1 && ok;
    // The same for the OAuth 2.0 provider profiles.
    ok = OAuthProviders::WriteMissingDefaults() == 1 && ok;
    return ok ? 1 : 0;
}

int CRegSettings::LoadGeneral()
{
    return LoadGroup(key_, kGeneral, general);
}

int CRegSettings::SaveGeneral()
{
    return SaveGroup(key_, kGeneral, general);
}

int CRegSettings::LoadNetwork()
{
    return LoadGroup(key_, kNetwork, network);
}

int CRegSettings::SaveNetwork()
{
    return SaveGroup(key_, kNetwork, network);
}

int CRegSettings::LoadNotify()
{
    return LoadGroup(key_, kNotify, notify);
}

int CRegSettings::SaveNotify()
{
    return SaveGroup(key_, kNotify, notify);
}
