#pragma once

#include "checkrecords.h"

#include <cstdint>
#include <string>

// The notification dispatcher's side of the merge: a check's summary (sound, tray, LED,
// popup, 3D notifier, mail client, and the messages for failed checks) and a text to show
// in a popup. Called on the front's handling thread, only while checking is enabled.
class NotificationTarget
{
public:
    virtual ~NotificationTarget() = default;
    virtual void Notify(const std::string& account, int32_t newCount, int32_t result) = 0;
    virtual void ShowText(const std::string& text) = 0;
    // The whole summary, with the reason of a failure (summary.message). The merge calls
    // this one; fronts that show the reason override it, the others get Notify().
    virtual void NotifySummary(const CheckResultRecord& summary)
    {
        Notify(summary.account, summary.newCount, summary.result);
    }
};
