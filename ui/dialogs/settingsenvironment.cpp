#include "settingsenvironment.h"

#include "accountmanager.h"
#include "autostartentry.h"
#include "leddevice.h"
#include "networkmanagerclient.h"
#include "soundplayer.h"

#include <QCoreApplication>
#include <memory>

SettingsEnvironment SettingsEnvironment::FromSystem(const CAccountManager* table, bool mapiPresent)
{
    SettingsEnvironment env;
    env.mailClients = MailClientList::ReadInstalled();
    NetworkManagerClient network;
    env.dialupEntries = network.ListEntries();
    CLedDevice led;
    env.mailLed = led.Open() && led.HasMailLed();
    env.mapiPresent = mapiPresent;
    if (table) {
        for (const AccountEntry& row : table->Snapshot())
            if (row.kind == 2)
                env.exchangeAccounts.push_back(row.name);
    }
    env.executable = CAutostartEntry::RunningExecutable();
    // One player for the dialog's life: Play returns at once and the sound goes on.
    auto player = std::make_shared<CSoundPlayer>();
    env.play = [player](const std::string& file) { player->Play(file); };
    return env;
}
