#pragma once

#include "tempdir.h"

#include <string>
#include <sys/types.h>
#include <vector>

// A private session bus with a real Secret Service (gnome-keyring-daemon, secrets only) whose
// default keyring is created and unlocked with a password of the test's. No prompter can
// start on that bus, so an unlock prompt ends at once as dismissed. Both processes are ended
// (by their ids) with the object, and die with the test binary.
class KeyringBus
{
public:
    KeyringBus() = default;
    ~KeyringBus();
    KeyringBus(const KeyringBus&) = delete;
    KeyringBus& operator=(const KeyringBus&) = delete;

    // False with `error` when a component is missing or does not come up.
    bool Start(std::string* error);
    const std::string& Address() const { return address_; }
    // "DBUS_SESSION_BUS_ADDRESS=..." for a program run against this keyring.
    std::vector<std::string> Env() const { return {"DBUS_SESSION_BUS_ADDRESS=" + address_}; }

    // Locks the default keyring / unlocks it again without a prompt. True when done.
    bool Lock();
    bool Unlock();
    // Stops the Secret Service where it stands (SIGSTOP) or lets it go on: a service that
    // owns its name on the bus and never answers.
    bool Freeze(bool frozen);

private:
    bool Control(const std::string& command, const std::string& input = "");

    TempDir dir_;
    std::string address_;
    pid_t bus_ = -1;
    pid_t keyring_ = -1;
};
