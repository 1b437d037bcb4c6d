#include "mailledblinker.h"

#include "leddevice.h"

CMailLedBlinker::CMailLedBlinker(CLedDevice& led, QObject* parent) : QObject(parent), led_(led)
{
    timer_.setInterval(kPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &CMailLedBlinker::BlinkStep);
}

// Leaving the LED blinking after the program has gone would tell of mail nobody watches.
CMailLedBlinker::~CMailLedBlinker()
{
    if (timer_.isActive())
        StopBlink();
}

void CMailLedBlinker::StartBlink()
{
    if (timer_.isActive()) {
        timer_.stop();
        led_.SetMailLed(1);
    }
    mailFlagged_ = true;
    phase_ = true;
    timer_.start();
}

void CMailLedBlinker::StopBlink()
{
    timer_.stop();
    led_.SetMailLed(1);
    phase_ = false;
}

void CMailLedBlinker::BlinkStep()
{
    led_.SetMailLed(phase_ ? 0 : 1);
    phase_ = !phase_;
}
