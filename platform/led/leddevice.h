#pragma once

#include <cstdint>

// The notebook's mail LED.
//
// Open() looks for the device once at start-up and reads its capability bits; the bit
// kMailLedBit says that a mail LED is there and can be driven. This build has no LED driver
// yet: Open() finds no device, the object stays closed, the capabilities stay 0 and
// SetMailLed changes nothing, which is exactly how a machine without the device behaves.
//
// Threads: one object per owner; not shared between threads.
class CLedDevice
{
public:
    static constexpr uint32_t kMailLedBit = 2;

    // True when a device was found. The capability bits are read either way (0 without one).
    bool Open();
    bool IsOpen() const { return open_; }
    uint32_t Capabilities() const { return capabilities_; }
    // The device is open and reports a mail LED.
    bool HasMailLed() const { return open_ && (capabilities_ & kMailLedBit) != 0; }
    // Sets the LED to `value` (1 is the resting state). Always 1: like the firmware call it
    // replaces, the outcome is not checked, and without a device nothing happens.
    int SetMailLed(uint32_t value);

private:
    bool open_ = false;
    uint32_t capabilities_ = 0;
};
