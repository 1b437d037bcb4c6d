#pragma once

#include <QObject>
#include <QTimer>

class CLedDevice;

// Blinks the mail LED while new mail waits: off, on, off, ... every 300 ms, starting with
// off; StopBlink() leaves it on, its resting state. New mail while it blinks starts the
// sequence again from off. The read-mail and restore commands, the 3D notifier's double
// click and the exit sequence stop it.
//
// The LED device is the caller's and must outlive the blinker; without a mail LED the
// device ignores every call, so the blinker needs no special case.
// Threads: the GUI thread only.
class CMailLedBlinker : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPeriodMs = 300;

    explicit CMailLedBlinker(CLedDevice& led, QObject* parent = nullptr);
    ~CMailLedBlinker() override;

    void StartBlink();
    void StopBlink();
    // One step of the blink, as if the period had passed: the LED takes the opposite of the
    // phase, and the phase flips.
    void BlinkStep();

    bool IsBlinking() const { return timer_.isActive(); }
    bool Phase() const { return phase_; }
    // Set once blinking has started: new mail has been flagged on the LED.
    bool MailFlagged() const { return mailFlagged_; }
    int PeriodMs() const { return timer_.interval(); }

private:
    CLedDevice& led_;
    QTimer timer_;
    bool phase_ = false;
    bool mailFlagged_ = false;
};
