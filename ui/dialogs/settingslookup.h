#pragma once

#include "discoveredserver.h"
#include "settingsdiscovery.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// The wizard's look-up of an account's server settings from its e-mail address
// (SettingsDiscovery), on a thread of its own so the dialog stays responsive.
//
// Cancel() (and a new Start, and the destructor) drops a running look-up at once: the
// thread is told to stop, is not waited for, and its result is never delivered. Its steps
// are bounded by a few seconds each, so a dropped thread ends soon after on its own.
// Finished() is emitted on the object's (user-interface) thread for the last look-up
// started, with its servers in Servers(); Address() is the address it was for.
//
// Threads: the user-interface thread calls every method.
class CSettingsLookup : public QObject
{
    Q_OBJECT

public:
    explicit CSettingsLookup(QObject* parent = nullptr);
    ~CSettingsLookup() override;

    // Where to look; null (the default) = DiscoverySources::Default(), read at each Start.
    void SetSources(std::shared_ptr<const DiscoverySources> sources)
    {
        sources_ = std::move(sources);
    }

    void Start(const QString& address);
    void Cancel();
    bool Running() const { return running_; }

    const QString& Address() const { return address_; }
    // The servers the last finished look-up found (preferred first); empty before.
    const std::vector<DiscoveredServer>& Servers() const { return servers_; }
    // Whether the last finished look-up was for `address`.
    bool HasResultFor(const QString& address) const { return finished_ && address == address_; }

signals:
    void Finished();

private:
    // What a running thread shares with this object; the thread keeps it alive.
    struct Shared {
        std::atomic<bool> cancel{false};
        std::mutex lock;
        CSettingsLookup* owner = nullptr; // null once dropped; guarded by `lock`
    };

    std::shared_ptr<const DiscoverySources> sources_;
    std::shared_ptr<Shared> current_;
    QString address_;
    std::vector<DiscoveredServer> servers_;
    bool running_ = false;
    bool finished_ = false;
};
