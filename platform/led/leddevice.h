#pragma once

#include <cstdint>
#include <string>

// The notebook's mail LED, driven through the kernel's LED class.
//
// A mail LED is a folder below the LED root (normally /sys/class/leds) whose name ends in
// ":mail" (asus::mail, acer-wmi::mail, wistron:green:mail ...). Open() looks for one once at
// start-up: the object is open when such a device exists, and the capability bit kMailLedBit
// is set when its "brightness" file can be written by this user (a udev rule shipped with the
// program grants that). SetMailLed(1) writes the device's "max_brightness", SetMailLed(0)
// writes 0. Without a device every call changes nothing.
//
// The root comes from the environment variable POSTWATCH_LED_ROOT when it is set (tests and
// demonstrations point it at a fake folder), else /sys/class/leds; a constructor takes an
// explicit root.
//
// Threads: one object per owner; not shared between threads.
class CLedDevice
{
public:
    static constexpr uint32_t kMailLedBit = 2;
    static constexpr const char* kDefaultRoot = "/sys/class/leds";
    static constexpr const char* kRootVariable = "POSTWATCH_LED_ROOT";

    CLedDevice();
    explicit CLedDevice(std::string root);

    // The root this build looks in when none is given.
    static std::string DefaultRoot();

    // True when a ":mail" device was found. The capability bits are read either way (0
    // without one). Of several mail LEDs the first in name order with a writable brightness
    // wins, else the first in name order.
    bool Open();
    bool IsOpen() const { return open_; }
    uint32_t Capabilities() const { return capabilities_; }
    // The device is open and its brightness can be set.
    bool HasMailLed() const { return open_ && (capabilities_ & kMailLedBit) != 0; }
    // Sets the LED on (non-zero) or off (0); 1 is the resting state. Always 1: like the
    // firmware call it replaces, the outcome is not checked, and without a device nothing
    // happens.
    int SetMailLed(uint32_t value);

    const std::string& Root() const { return root_; }
    // The device folder, empty while closed.
    const std::string& DevicePath() const { return device_; }

private:
    std::string root_;
    std::string device_;
    std::string onValue_ = "1";
    bool open_ = false;
    uint32_t capabilities_ = 0;
};
