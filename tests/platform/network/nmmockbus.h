#pragma once

#include "support/tempdir.h"

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>
#include <string>

// A private D-Bus daemon with NetworkManager played by python3-dbusmock's networkmanager
// template, for tests. The control calls block and fail
// the current test (gtest ADD_FAILURE) when the mock refuses them.
class NmMockBus
{
public:
    NmMockBus() = default;
    ~NmMockBus();
    NmMockBus(const NmMockBus&) = delete;
    NmMockBus& operator=(const NmMockBus&) = delete;

    // Starts the daemon, and the mock when `withManager`. False with `error` set on failure.
    bool Start(bool withManager, std::string* error);
    const std::string& Address() const { return address_; }

    // Back to the template's start: connected globally, no device, profile or connection.
    // Adds the PrimaryConnection property the template lacks ("/") and one ethernet device,
    // which the template needs for DeactivateConnection to do anything.
    void Reset();
    void SetState(uint32_t state);
    // Adds a profile with connection.id `id` and connection.type `type`; `extra` is merged in
    // as further settings groups. Returns its object path.
    QString AddProfile(const QString& id, const QString& type, const QVariantMap& extraGroup = {},
                       const QString& extraGroupName = {});
    // Makes `profile` active in `state` (NMActiveConnectionState); returns the active path.
    QString AddActive(const QString& profile, const QString& name, uint32_t state);
    void SetPrimary(const QString& activePath);
    // Replaces ActivateConnection by `pythonCode` (see dbusmock's AddMethod).
    void ReplaceActivate(const QString& pythonCode);
    QStringList ActivePaths();

private:
    QDBusMessage Call(const QString& path, const QString& iface, const QString& method,
                      const QList<QVariant>& args);

    TempDir dir_;
    std::unique_ptr<QProcess> daemon_;
    std::unique_ptr<QProcess> mock_;
    std::string address_;
    QString connectionName_;
    int profiles_ = 0;
};
