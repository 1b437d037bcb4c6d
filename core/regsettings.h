#pragma once

#include "registrykey.h"

#include <cstdint>
#include <string>

class CLedDevice;

// The program settings of the General, Network and Notify keys below the program key
// (ProgramKey::Path()), kept as texts; switches are "1" and "0".
//
// Load* opens the group's key, reads every value of the group in table order and closes it;
// a value that cannot be read becomes the empty text (the AutoStartExchange number keeps its
// former value). Save* writes every value of the group; when the key cannot be opened,
// nothing is written. Both return 1 when the key could be opened, else 0.
//
// Prepare() is the start-up preparation: it makes the program key and the keys "General",
// "Network", "Notify", "Filter Manager" and "Options" exist, writes the defaults into the
// keys it created now and only those (a key that exists keeps exactly what it has, also
// when values are missing), and opens the mail-LED device on the way, whose capability bits
// decide the "MailLED" default. The defaults that name files point into the asset folder
// (AppPaths::AssetDir()); the mail-client defaults are the desktop's default mailto handler.
//
// Threads: one object per thread; objects in several threads and processes may work on the
// same settings at once (see CRegistryKey).
class CRegSettings
{
public:
    struct General {
        std::string startup;            // "Startup"
        std::string minimum;            // "Minimum": start hidden in the tray
        std::string mailClient;         // "MailClient": display name
        std::string mailClientPath;     // "MailClientPath": command line
        std::string defaultExchange;    // "DefaultExchange"
        uint32_t autoStartExchange = 0; // "AutoStartExchange" (DWORD)
    };
    struct Network {
        std::string useConnection;        // "UseConnection"
        std::string dialupEntry;          // "DialupEntry"
        std::string autoHangupAfterCheck; // "AutoHangupAfterCheck"
        std::string useExistDialup;       // "UseExistDialup"
        std::string timeOut;              // "TimeOut" (stored as "Timeout"); SettingNumber()
        std::string showProgress;         // "ShowProgress"
    };
    struct Notify {
        std::string flashIcon;     // "FlashIcon"
        std::string mailLed;       // "MailLED"
        std::string mailClient;    // "MailClient": start the mail client on new mail
        std::string effect3d;      // "3dEffect"
        std::string message;       // "Message": the popup
        std::string sound;         // "Sound"
        std::string soundFileName; // "SoundFileName"
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
