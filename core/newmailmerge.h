#pragma once

#include "enginesink.h"

class CEngineState;
class FrontWindowTarget;
class HeaderListTarget;
class NotificationTarget;

// The front's handling of the engine's messages: stores new mail and passes on what the
// user should see.
//
// New message (kinds 1-4): opens the account's Message.box, appends the message under a
// new MessageId with Read "No" and closes the file; for POP3/IMAP4 then appends its
// identifier to UID.inf; then gives it to the header list. A Message.box that cannot be
// used stores nothing and appends no identifier, so the message comes again at the next
// check; a failed UID.inf append leaves the message stored but not announced.
// Summary (5) and text (6) reach the notification target only while checking is enabled:
// while the program exits (draining) mail is still stored, but nothing is shown.
//
// Threads: the methods are the handler itself; call them on one thread only (the
// desktop's UI thread, or CMergeThreadSink's merge thread), which is what makes every
// store write happen one at a time. Targets may be null (nothing is passed on). They all
// return 1, as the window's handler did.
class CNewMailMerge final : public CEngineSink
{
public:
    CNewMailMerge(const CEngineState& state, HeaderListTarget* headerList,
                  NotificationTarget* notification, FrontWindowTarget* front);

    int SendNewMessage(uint32_t kind, const MessageRecord& record) override;
    int SendExchangeMessage(const ExchangeMessageRecord& record) override;
    int SendWebMailMessage(const WebMailMessageRecord& record) override;
    int SendSummary(const CheckResultRecord& record) override;
    int SendText(const CheckResultRecord& record) override;
    int SendCheckAnimation(bool on) override;
    void PostClose() override;

private:
    // Appends `message` to the account's Message.box; true when stored.
    bool Store(const std::string& account, const StoredMessage& message);

    const CEngineState& state_;
    HeaderListTarget* headerList_;
    NotificationTarget* notification_;
    FrontWindowTarget* front_;
};
