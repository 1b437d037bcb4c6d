#include "settingslookup.h"

#include <QMetaObject>
#include <thread>

CSettingsLookup::CSettingsLookup(QObject* parent) : QObject(parent)
{
}

CSettingsLookup::~CSettingsLookup()
{
    Cancel();
}

void CSettingsLookup::Cancel()
{
    if (current_) {
        current_->cancel = true;
        std::lock_guard<std::mutex> guard(current_->lock);
        current_->owner = nullptr;
    }
    current_.reset();
    running_ = false;
}

void CSettingsLookup::Start(const QString& address)
{
    Cancel();
    address_ = address;
    servers_.clear();
    finished_ = false;
    running_ = true;
    auto shared = std::make_shared<Shared>();
    shared->owner = this;
    current_ = shared;
    // The settings store is read here, on the user-interface thread.
    auto sources =
        sources_ ? sources_ : std::make_shared<const DiscoverySources>(DiscoverySources::Default());
    const std::string text = address.toStdString();
    // Detached: a dropped look-up must not hold up the dialog; `shared` and `sources` live
    // as long as the thread needs them.
    std::thread([shared, sources, text] {
        SettingsDiscovery::Result result =
            SettingsDiscovery(*sources).Discover(text, shared->cancel);
        std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->owner == nullptr || shared->cancel)
            return;
        // Queued to the owner's thread; Qt drops the call if the owner is deleted first, and
        // the owner cannot be deleted before this is posted (its destructor takes `lock`).
        CSettingsLookup* owner = shared->owner;
        QMetaObject::invokeMethod(
            owner,
            [owner, shared, servers = std::move(result.servers)]() mutable {
                if (owner->current_ != shared)
                    return; // a later Start or a Cancel came first
                owner->current_.reset();
                owner->servers_ = std::move(servers);
                owner->running_ = false;
                owner->finished_ = true;
                emit owner->Finished();
            },
            Qt::QueuedConnection);
    }).detach();
}
