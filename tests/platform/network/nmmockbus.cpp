#include "nmmockbus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QMap>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>

namespace
{

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kMockIface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kMainPath = QStringLiteral("/org/freedesktop");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerIface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kDevice = QStringLiteral("/org/freedesktop/NetworkManager/Devices/mock0");

using SettingsMap = QMap<QString, QVariantMap>;

// A test binary that crashes must not leave a bus and a mock running behind it.
void DieWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

} // namespace

NmMockBus::~NmMockBus()
{
    if (!connectionName_.isEmpty())
        QDBusConnection::disconnectFromBus(connectionName_);
    for (auto* process : {mock_.get(), daemon_.get()}) {
        if (process != nullptr && process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

bool NmMockBus::Start(bool withManager, std::string* error)
{
    qDBusRegisterMetaType<SettingsMap>();
    daemon_ = std::make_unique<QProcess>();
    daemon_->setStandardErrorFile(QProcess::nullDevice());
    daemon_->setChildProcessModifier(DieWithParent);
    daemon_->start("dbus-daemon",
                   {"--session", "--nofork", "--print-address=1",
                    QString::fromStdString("--address=unix:path=" + dir_.File("bus"))});
    if (!daemon_->waitForStarted(5000)) {
        *error = "dbus-daemon does not start (package dbus-daemon)";
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (!daemon_->canReadLine() && timer.elapsed() < 5000)
        daemon_->waitForReadyRead(100);
    address_ = daemon_->readLine().trimmed().toStdString();
    if (address_.empty()) {
        *error = "dbus-daemon printed no address";
        return false;
    }
    connectionName_ = QStringLiteral("nmmock-control-%1").arg(reinterpret_cast<quintptr>(this));
    QDBusConnection control =
        QDBusConnection::connectToBus(QString::fromStdString(address_), connectionName_);
    if (!control.isConnected()) {
        *error = "cannot connect to the private bus";
        return false;
    }
    if (!withManager)
        return true;

    mock_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", QString::fromStdString(address_));
    mock_->setProcessEnvironment(env);
    mock_->setChildProcessModifier(DieWithParent);
    mock_->setStandardOutputFile(QProcess::nullDevice());
    mock_->setStandardErrorFile(dir_.File("mock.log").c_str());
    mock_->start("/usr/bin/python3", {"-m", "dbusmock", "--template", "networkmanager"});
    timer.restart();
    while (timer.elapsed() < 10000) {
        const QDBusReply<bool> up = control.interface()->isServiceRegistered(kService);
        if (up.isValid() && up.value()) {
            Reset();
            return true;
        }
        if (mock_->state() == QProcess::NotRunning)
            break;
        QThread::msleep(20);
    }
    *error = "the NetworkManager mock did not come up (package python3-dbusmock): " +
             ReadWholeFile(dir_.File("mock.log"));
    return false;
}

QDBusMessage NmMockBus::Call(const QString& path, const QString& iface, const QString& method,
                             const QList<QVariant>& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, iface, method);
    message.setArguments(args);
    const QDBusMessage reply = QDBusConnection(connectionName_).call(message, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        ADD_FAILURE() << "mock refused " << method.toStdString() << ": "
                      << reply.errorMessage().toStdString();
    return reply;
}

void NmMockBus::Reset()
{
    profiles_ = 0;
    Call(kMainPath, kMockIface, "Reset", {});
    Call(kManagerPath, kMockIface, "AddProperty",
         {kManagerIface, QStringLiteral("PrimaryConnection"),
          QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath("/"))))});
    Call(kMainPath, kMockIface, "AddEthernetDevice",
         {QStringLiteral("mock0"), QStringLiteral("eth0"), QVariant::fromValue(int(100))});
}

void NmMockBus::SetState(uint32_t state)
{
    Call(kMainPath, kMockIface, "SetGlobalConnectionState", {QVariant::fromValue(state)});
}

QString NmMockBus::AddProfile(const QString& id, const QString& type, const QVariantMap& extraGroup,
                              const QString& extraGroupName)
{
    SettingsMap settings;
    settings["connection"] = QVariantMap{{"id", id}, {"type", type}};
    if (!extraGroupName.isEmpty())
        settings[extraGroupName] = extraGroup;
    const QDBusMessage reply = Call(QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
                                    QStringLiteral("org.freedesktop.NetworkManager.Settings"),
                                    "AddConnection", {QVariant::fromValue(settings)});
    if (reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusObjectPath>().path();
}

QString NmMockBus::AddActive(const QString& profile, const QString& name, uint32_t state)
{
    const QDBusMessage reply = Call(
        kMainPath, kMockIface, "AddActiveConnection",
        {QStringList{kDevice}, profile, QStringLiteral("/"), name, QVariant::fromValue(state)});
    if (reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().toString();
}

void NmMockBus::SetPrimary(const QString& activePath)
{
    Call(kMainPath, kMockIface, "SetProperty",
         {kManagerPath, kManagerIface, QStringLiteral("PrimaryConnection"),
          QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(activePath))))});
}

void NmMockBus::ReplaceActivate(const QString& pythonCode)
{
    Call(kManagerPath, kMockIface, "AddMethod",
         {kManagerIface, QStringLiteral("ActivateConnection"), QStringLiteral("ooo"),
          QStringLiteral("o"), pythonCode});
}

QStringList NmMockBus::ActivePaths()
{
    QStringList paths;
    const QDBusMessage reply = Call(kManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    "Get", {kManagerIface, QStringLiteral("ActiveConnections")});
    if (reply.arguments().isEmpty())
        return paths;
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    for (const QDBusObjectPath& path :
         qdbus_cast<QList<QDBusObjectPath>>(value.value<QDBusArgument>()))
        paths << path.path();
    return paths;
}
