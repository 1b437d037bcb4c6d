#pragma once

#include "registrykey.h"
#include "settingnumber.h"
#include "settingvalue.h"

#include <cstdint>
#include <string>

class CLedDevice;

// The program settings of the General, Network and Notify keys below the program key
// (ProgramKey::Path()). Each value is a SettingValue read through its type: switches as
// bool, numbers as int, texts as text, "AutoStartExchange" as a DWORD. Value names, kinds
// and read sizes live in one table per group in regsettings.cpp, which Load*, Save* and
// Prepare all use.
//
// A new object holds the defaults that a first start writes; the defaults that depend on the
// machine (the mail client, "MailLED", the sound file) are empty or off until Prepare finds
// them. Load* opens the group's key and reads every value of the group; a value that cannot
// be read becomes the empty text (the AutoStartExchange number keeps its former value), and
// so does every value when the key cannot be opened. Save* writes every value of the group;
// when the key cannot be opened, nothing is written. Both return 1 when the key could be
// opened, else 0.
//
// Prepare() is the start-up preparation: it makes the program key and the keys "General",
// "Network", "Notify", "Filter Manager" and "Options" exist, writes the defaults into the
// keys it created now and only those (a key that exists keeps exactly what it has, also
// when values are missing), and opens the mail-LED device on the way, whose capability bits
// decide the "MailLED" default. The defaults that name files point into the asset folder
// (AppPaths::AssetDir()); the mail-client defaults are the desktop's default mailto handler.
// It also writes the web-mail endpoints that are absent (WriteMissingWebMailEndpoints).
//
// Threads: one object per thread; objects in several threads and processes may work on the
// same settings at once (see CRegistryKey).
class CRegSettings
{
public:
    struct General {
        SettingValue<bool> startup{true};          // start at log-in (the autostart entry)
        SettingValue<bool> minimum{true};          // start hidden in the tray
        SettingValue<std::string> mailClient;      // display name of the mail client
        SettingValue<std::string> mailClientPath;  // its command line
        SettingValue<std::string> defaultExchange; // the Exchange account checked at start
        SettingValue<uint32_t> autoStartExchange{1};
        // Account passwords go to the desktop's keyring instead of Account.inf.
        SettingValue<bool> keepPasswordsInKeyring{false};
    };
    struct Network {
        SettingValue<int> useConnection{1}; // 1 always online, 3 dial-up, else the system decides
        SettingValue<std::string> dialupEntry;
        SettingValue<bool> autoHangupAfterCheck{true};
        SettingValue<bool> useExistDialup{true};
        SettingValue<int> timeOut{kDefaultTimeOutSeconds}; // as stored; see TimeOutSeconds()
        SettingValue<bool> showProgress{true};

        // The protocol time-out in force (TimeOutInForce of the stored number).
        int TimeOutSeconds() const { return TimeOutInForce(timeOut.Get()); }
    };
    struct Notify {
        SettingValue<bool> flashIcon{true};
        SettingValue<bool> mailLed{false};
        SettingValue<bool> mailClient{false}; // start the mail client on new mail
        SettingValue<bool> effect3d{true};
        SettingValue<bool> message{true}; // the popup
        SettingValue<bool> sound{true};
        SettingValue<std::string> soundFileName;
        // Notices through the desktop's notification server instead of the popup.
        SettingValue<bool> desktopNotify{false};
        // Quiet hours, local "HH:MM" each; none while either is empty or malformed, or
        // both are the same (QuietHours).
        SettingValue<std::string> quietFrom;
        SettingValue<std::string> quietUntil;
        // Quiet also while the notification server says do-not-disturb.
        SettingValue<bool> followDoNotDisturb{false};
    };

    General general;
    Network network;
    Notify notify;

    // Read sizes of the values (the terminating zero counted, as the Windows version's
    // buffers did).
    static constexpr size_t kValueSize = 261;
    static constexpr size_t kShortValueSize = 9; // "Minimum" and "TimeOut"

    // Start-up preparation with the caller's LED device, which stays open afterwards.
    // 1 when every key exists afterwards, 0 when the store cannot be written (no message).
    int Prepare(CLedDevice& led);
    // Same with a device of its own, for callers that do not drive the LED.
    int Prepare();

    int LoadGeneral();
    int SaveGeneral();
    int LoadNetwork();
    int SaveNetwork();
    int LoadNotify();
    int SaveNotify();

private:
    CRegistryKey key_;
};
