#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the log-on logic needs of a mail system: profiles, their stores, the stores' folders,
// the unread messages in them, and word of new mail. The Maildir provider implements it over
// local folders; a provider for a remote service implements the same calls and the log-on,
// scan, watch and log-off logic stays as it is.
//
// Threads: every call may come from any thread; a provider guards its own state. The new-mail
// callback runs on the provider's own thread, one call at a time; Unwatch returns only when
// no callback of that watch is running or will run.

// A message store of a profile. `isDefault` is true for the profile's first store.
// `publicFolders` and `primaryIdentity` describe stores that are not scanned: a store of
// public folders is never scanned, nor one that is not the default store but is the primary
// identity's (a second copy of the user's own mail).
struct ProviderStore {
    std::string id;          // opaque, stable while logged on
    std::string displayName; // shown as the record's store field
    bool isDefault = false;
    bool publicFolders = false;
    bool primaryIdentity = false;
};

struct ProviderFolder {
    std::string id;          // opaque
    std::string displayName; // UTF-8, shown as the record's folder field
    uint32_t unreadCount = 0;
};

// One unread message, as far as a scan needs it (no body yet).
struct ProviderMessage {
    std::string entryId; // stable identity, recorded in the MIDs file
    std::string folderId;
    bool read = false;
};

// What a report needs of one message. `readProblem` is set (with what could be read still
// filled in) when the header or body could not be read whole.
struct ProviderMessageDetails {
    std::string subject;    // UTF-8, decoded
    std::string senderName; // UTF-8, decoded display name (the address when there is none)
    std::string senderEmail;
    uint64_t size = 0; // bytes
    std::time_t deliveryTime = 0;
    bool hasAttachment = false;
    bool hasBody = false;
    std::string body; // the first text part in UTF-8, at most the limit asked for
    std::string readProblem;
};

enum class ProviderStatus { kOk, kLogonFailed, kStoreFailed };

// A new message a watch saw: the store, the folder and the message.
struct ProviderNewMail {
    std::string storeId;
    std::string folderId;
    std::string entryId;
};

class MailProvider
{
public:
    virtual ~MailProvider() = default;

    // True when at least one profile has a store that can be read.
    virtual bool Present() = 0;
    virtual std::vector<std::string> Profiles() = 0;

    // Opens the profile's stores (kLogonFailed: no such profile or nothing readable; the
    // reason goes to *why). Fills `stores` in the profile's order.
    virtual ProviderStatus OpenProfile(const std::string& profile,
                                       std::vector<ProviderStore>& stores, std::string* why) = 0;
    // Every folder of the store (the root first), with its unread count.
    virtual ProviderStatus Folders(const ProviderStore& store, std::vector<ProviderFolder>& folders,
                                   std::string* why) = 0;
    // The folder's messages, unread first is not promised: callers skip `read` ones.
    virtual ProviderStatus Messages(const ProviderFolder& folder,
                                    std::vector<ProviderMessage>& messages, std::string* why) = 0;
    // The display name of a folder by id (for new mail seen by a watch).
    virtual std::string FolderName(const std::string& folderId) = 0;
    // Reads what a record needs; `bodyLimit` bytes of body at most (cut at a character
    // boundary). A message that is gone gives false.
    virtual bool Details(const std::string& folderId, const std::string& entryId,
                         uint32_t bodyLimit, ProviderMessageDetails& details) = 0;
    // Deletes the message the way the user can undo: moves it to the store's trash.
    virtual bool Delete(const std::string& storeId, const std::string& folderId,
                        const std::string& entryId, std::string* why) = 0;

    // Starts telling `onNewMail` about every message that arrives in the store from now on.
    // Returns a watch number (> 0), or 0 with the reason in *why.
    virtual int Watch(const ProviderStore& store,
                      std::function<void(const ProviderNewMail&)> onNewMail, std::string* why) = 0;
    virtual void Unwatch(int watch) = 0;
    // Closes what OpenProfile opened (after every Unwatch).
    virtual void CloseProfile() = 0;
};
