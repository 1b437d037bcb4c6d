#pragma once

#include "mailprovider.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// A provider that plays what a real Maildir will not: refused profiles, stores that fail or
// refuse their log-on, public and secondary stores, messages that vanish or cannot be read
// whole, bodies longer than asked for. Folder ids begin with their store's id and a "/".
class ScriptedProvider : public MailProvider
{
public:
    struct Message {
        std::string folderId;
        std::string entryId;
        bool read = false;
        bool gone = false; // listed, but gone when read
        ProviderMessageDetails details;
    };

    // The script.
    ProviderStatus profileStatus = ProviderStatus::kOk;
    ProviderStatus folderStatus = ProviderStatus::kOk;
    bool watchFails = false;
    std::vector<ProviderStore> stores;
    std::vector<ProviderFolder> folders;
    std::vector<Message> messages;
    // Delivered once the first store's folders have been counted: listed from then on, and
    // told to a watch that runs by then.
    std::vector<Message> arriving;

    // What the library did.
    int opened = 0, closed = 0, watched = 0, unwatched = 0;
    std::vector<uint32_t> bodyLimits;
    std::vector<std::string> deleted;

    bool Present() override { return !stores.empty(); }
    std::vector<std::string> Profiles() override { return {"Scripted"}; }
    ProviderStatus OpenProfile(const std::string&, std::vector<ProviderStore>& out,
                               std::string* why) override
    {
        if (profileStatus != ProviderStatus::kOk) {
            *why = "the profile is refused";
            return profileStatus;
        }
        ++opened;
        out = stores;
        return ProviderStatus::kOk;
    }
    ProviderStatus Folders(const ProviderStore& store, std::vector<ProviderFolder>& out,
                           std::string* why) override
    {
        if (folderStatus != ProviderStatus::kOk) {
            *why = "store " + store.displayName + " cannot be read";
            return folderStatus;
        }
        out.clear();
        for (const auto& f : folders)
            if (f.id.rfind(store.id + "/", 0) == 0)
                out.push_back(f);
        for (const auto& m : std::exchange(arriving, {})) {
            messages.push_back(m);
            if (watched > unwatched)
                Notify({store.id, m.folderId, m.entryId});
        }
        return ProviderStatus::kOk;
    }
    ProviderStatus Messages(const ProviderFolder& folder, std::vector<ProviderMessage>& out,
                            std::string*) override
    {
        out.clear();
        for (const auto& m : messages)
            if (m.folderId == folder.id)
                out.push_back({m.entryId, m.folderId, m.read});
        return ProviderStatus::kOk;
    }
    std::string FolderName(const std::string& folderId) override { return folderId; }
    bool Details(const std::string& folderId, const std::string& entryId, uint32_t bodyLimit,
                 ProviderMessageDetails& details) override
    {
        bodyLimits.push_back(bodyLimit);
        for (const auto& m : messages)
            if (m.folderId == folderId && m.entryId == entryId && !m.gone) {
                details = m.details;
                return true;
            }
        return false;
    }
    bool Delete(const std::string&, const std::string&, const std::string& entryId,
                std::string*) override
    {
        deleted.push_back(entryId);
        return true;
    }
    int Watch(const ProviderStore&, std::function<void(const ProviderNewMail&)> callback,
              std::string* why) override
    {
        if (watchFails) {
            *why = "too many watches";
            return 0;
        }
        callback_ = std::move(callback);
        return ++watched;
    }
    void Unwatch(int) override { ++unwatched; }
    void CloseProfile() override { ++closed; }

    // Plays a notification of the last watch, on the caller's thread.
    void Notify(const ProviderNewMail& mail)
    {
        if (callback_)
            callback_(mail);
    }

private:
    std::function<void(const ProviderNewMail&)> callback_;
};
