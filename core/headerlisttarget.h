#pragma once

#include "messagerecord.h"

#include <string>
#include <vector>

// The header list's side of the merge: a message was stored for `account` (Read "No");
// the list shows it when it shows that account. The desktop's header list implements it;
// the headless front prints the message. Called on the front's handling thread.
class HeaderListTarget
{
public:
    virtual ~HeaderListTarget() = default;
    virtual void AddNewMessage(const std::string& account, const StoredMessage& message) = 0;
    // Messages given with AddNewMessage were taken back out of Message.box (their check
    // could not record their identifiers, so they will be reported again): drop them.
    virtual void RemoveNewMessages(const std::string& account,
                                   const std::vector<std::string>& messageIds)
    {
        (void)account;
        (void)messageIds;
    }
    // The server's read state reached Message.box: these stored messages are now read, and
    // these were removed (the server no longer has them).
    virtual void FollowServer(const std::string& account, const std::vector<std::string>& readIds,
                              const std::vector<std::string>& removedIds)
    {
        (void)account;
        (void)readIds;
        (void)removedIds;
    }
};
