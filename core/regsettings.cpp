#include "regsettings.h"

#include "apppaths.h"
#include "leddevice.h"
#include "mailclientlist.h"
#include "programkey.h"

#include <vector>

namespace
{

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;

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

struct DefaultValue {
    const char* name;
    std::string text;
    bool isDword;
    uint32_t number;
};

DefaultValue Sz(const char* name, std::string text)
{
    return {name, std::move(text), false, 0};
}
DefaultValue Dword(const char* name, uint32_t number)
{
    return {name, {}, true, number};
}

// Ensures the group and, only when it was created now, writes its defaults. False on failure.
bool EnsureGroup(const std::string& group, const std::vector<DefaultValue>& defaults)
{
    std::string path = ProgramKey::Path(group);
    Ensured state = EnsureKey(path);
    if (state == Ensured::Failed)
        return false;
    if (state == Ensured::Existed || defaults.empty())
        return true;
    CRegistryKey key;
    if (!key.Open(kUser, path))
        return false;
    bool ok = true;
    for (const DefaultValue& v : defaults)
        ok = (v.isDword ? key.WriteDword(v.name, v.number) : key.WriteString(v.name, v.text)) && ok;
    return ok;
}

std::string AssetPath(const std::string& relative)
{
    return AppPaths::AssetDir() + "/" + relative;
}

std::string ReadText(CRegistryKey& key, const char* name, size_t size = CRegSettings::kValueSize)
{
    std::string value;
    key.ReadString(name, value, size); // a missing value leaves the text empty
    return value;
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

    MailClientInfo client;
    bool haveClient = false;
    {
        CRegistryKey probe;
        // The mail-client lookup reads many files; do it only for a first start.
        if (!probe.Open(kUser, ProgramKey::Path("General")))
            haveClient = MailClientList::ReadDefault(client);
    }
    if (!haveClient)
        client = MailClientInfo();
    ok =
        EnsureGroup("General", {Sz("Startup", "1"), Sz("Minimum", "1"),
                                Sz("MailClient", client.name), Sz("MailClientPath", client.command),
                                Sz("DefaultExchange", ""), Dword("AutoStartExchange", 1)}) &&
        ok;

    // "Timeout" is the name the value was always written under; it is read as "TimeOut",
    // which finds it because value names ignore case.
    ok = EnsureGroup("Network", {Sz("UseConnection", "1"), Sz("DialupEntry", ""),
                                 Sz("AutoHangupAfterCheck", "1"), Sz("UseExistDialup", "1"),
                                 Sz("Timeout", "60"), Sz("ShowProgress", "1")}) &&
         ok;

    led.Open();
    ok = EnsureGroup("Notify", {Sz("FlashIcon", "1"), Sz("MailClient", "0"), Sz("3dEffect", "1"),
                                Sz("Message", "1"), Sz("Sound", "1"),
                                Sz("MailLED", led.HasMailLed() ? "1" : "0"),
                                Sz("SoundFileName", AssetPath("Sound/Notify.wav"))}) &&
         ok;

    ok = EnsureGroup("Filter Manager", {}) && ok;

    ok =
        EnsureGroup("Options",
                    {Sz("ModelDir", AssetPath("Model/")), Sz("TextureDir", AssetPath("Texture/")),
                     Dword("TopMost", 1), Dword("UsePackageModel", 1),
                     Dword("UsePackageTexture", 1), Dword("LastPosX", 0), Dword("LastPosY", 0),
                     Dword("Size", 2), Dword("DBClickClose", 0), Dword("DBClickShow", 1),
                     Sz("LastSelectModel", "default.x"), Sz("LastSelectTexture", "default.bmp")}) &&
        ok;
    return ok ? 1 : 0;
}

int CRegSettings::LoadGeneral()
{
    if (!key_.Open(kUser, ProgramKey::Path("General"))) {
        uint32_t keep = general.autoStartExchange;
        general = General();
        general.autoStartExchange = keep;
        return 0;
    }
    general.startup = ReadText(key_, "Startup");
    general.minimum = ReadText(key_, "Minimum", kShortValueSize);
    general.mailClient = ReadText(key_, "MailClient");
    general.mailClientPath = ReadText(key_, "MailClientPath");
    general.defaultExchange = ReadText(key_, "DefaultExchange");
    key_.ReadDword("AutoStartExchange", general.autoStartExchange);
    key_.Close();
    return 1;
}

int CRegSettings::SaveGeneral()
{
    if (!key_.Open(kUser, ProgramKey::Path("General")))
        return 0;
    key_.WriteString("Startup", general.startup);
    key_.WriteString("Minimum", general.minimum);
    key_.WriteString("MailClient", general.mailClient);
    key_.WriteString("MailClientPath", general.mailClientPath);
    key_.WriteString("DefaultExchange", general.defaultExchange);
    key_.WriteDword("AutoStartExchange", general.autoStartExchange);
    key_.Close();
    return 1;
}

int CRegSettings::LoadNetwork()
{
    if (!key_.Open(kUser, ProgramKey::Path("Network"))) {
        network = Network();
        return 0;
    }
    network.useConnection = ReadText(key_, "UseConnection");
    network.dialupEntry = ReadText(key_, "DialupEntry");
    network.autoHangupAfterCheck = ReadText(key_, "AutoHangupAfterCheck");
    network.useExistDialup = ReadText(key_, "UseExistDialup");
    network.timeOut = ReadText(key_, "TimeOut", kShortValueSize);
    network.showProgress = ReadText(key_, "ShowProgress");
    key_.Close();
    return 1;
}

int CRegSettings::SaveNetwork()
{
    if (!key_.Open(kUser, ProgramKey::Path("Network")))
        return 0;
    key_.WriteString("UseConnection", network.useConnection);
    key_.WriteString("DialupEntry", network.dialupEntry);
    key_.WriteString("AutoHangupAfterCheck", network.autoHangupAfterCheck);
    key_.WriteString("UseExistDialup", network.useExistDialup);
    key_.WriteString("TimeOut", network.timeOut);
    key_.WriteString("ShowProgress", network.showProgress);
    key_.Close();
    return 1;
}

int CRegSettings::LoadNotify()
{
    if (!key_.Open(kUser, ProgramKey::Path("Notify"))) {
        notify = Notify();
        return 0;
    }
    notify.flashIcon = ReadText(key_, "FlashIcon");
    notify.mailClient = ReadText(key_, "MailClient");
    notify.effect3d = ReadText(key_, "3dEffect");
    notify.message = ReadText(key_, "Message");
    notify.sound = ReadText(key_, "Sound");
    notify.mailLed = ReadText(key_, "MailLED");
    notify.soundFileName = ReadText(key_, "SoundFileName");
    key_.Close();
    return 1;
}

int CRegSettings::SaveNotify()
{
    if (!key_.Open(kUser, ProgramKey::Path("Notify")))
        return 0;
    key_.WriteString("FlashIcon", notify.flashIcon);
    key_.WriteString("MailClient", notify.mailClient);
    key_.WriteString("3dEffect", notify.effect3d);
    key_.WriteString("Message", notify.message);
    key_.WriteString("Sound", notify.sound);
    key_.WriteString("MailLED", notify.mailLed);
    key_.WriteString("SoundFileName", notify.soundFileName);
    key_.Close();
    return 1;
}
