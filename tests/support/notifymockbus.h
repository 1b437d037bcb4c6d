#pragma once

#include "tempdir.h"

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>
#include <string>
#include <vector>

// A private session bus with a desktop notification server played by python3-dbusmock's
// notification_daemon template, for tests. Calls to the mock block; a refused one fails the
// current test (gtest ADD_FAILURE).
class NotifyMockBus
{
public:
    NotifyMockBus() = default;
    ~NotifyMockBus();
    NotifyMockBus(const NotifyMockBus&) = delete;
    NotifyMockBus& operator=(const NotifyMockBus&) = delete;

    // Starts the bus and, when `withServer`, the server announcing `capabilities`
    // (space-separated). False with `error` set on failure.
    bool Start(bool withServer, const std::string& capabilities, std::string* error);
    // A connection of the code under test to the private bus.
    QDBusConnection Connect(const QString& name);

    // The arguments of every Notify call so far, oldest first.
    std::vector<QVariantList> NotifyCalls();
    // The server emits ActionInvoked(id, action).
    void InvokeAction(uint id, const QString& action);
    // The server gains the "Inhibited" property with `value`.
    void SetInhibited(bool value);

private:
    QDBusMessage Call(const QString& method, const QVariantList& args);

    TempDir dir_;
    std::unique_ptr<QProcess> daemon_;
    std::unique_ptr<QProcess> mock_;
    std::string address_;
    QString control_;
    std::vector<QString> connections_;
};
