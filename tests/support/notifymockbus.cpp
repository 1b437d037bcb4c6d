#include "notifymockbus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>

namespace
{

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kMock = QStringLiteral("org.freedesktop.DBus.Mock");

// A crashed test binary must not leave a bus and a server behind.
void DieWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

} // namespace

NotifyMockBus::~NotifyMockBus()
{
    for (const QString& name : connections_)
        QDBusConnection::disconnectFromBus(name);
    if (!control_.isEmpty())
        QDBusConnection::disconnectFromBus(control_);
    for (auto* process : {mock_.get(), daemon_.get()}) {
        if (process != nullptr && process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

bool NotifyMockBus::Start(bool withServer, const std::string& capabilities, std::string* error)
{
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
    control_ = QStringLiteral("notifymock-control-%1").arg(reinterpret_cast<quintptr>(this));
    QDBusConnection control =
        QDBusConnection::connectToBus(QString::fromStdString(address_), control_);
    if (!control.isConnected()) {
        *error = "cannot connect to the private bus";
        return false;
    }
    if (!withServer)
        return true;

    mock_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(address_));
    mock_->setProcessEnvironment(env);
    mock_->setChildProcessModifier(DieWithParent);
    mock_->setStandardOutputFile(QProcess::nullDevice());
    mock_->setStandardErrorFile(dir_.File("mock.log").c_str());
    const QString parameters =
        QStringLiteral("{\"capabilities\": \"%1\"}").arg(QString::fromStdString(capabilities));
    mock_->start("/usr/bin/python3",
                 {"-m", "dbusmock", "--template", "notification_daemon", "-p", parameters});
    timer.restart();
    while (timer.elapsed() < 10000) {
        const QDBusReply<bool> up = control.interface()->isServiceRegistered(kService);
        if (up.isValid() && up.value())
            return true;
        if (mock_->state() == QProcess::NotRunning)
            break;
        QThread::msleep(20);
    }
    *error = "the notification server mock did not come up (package python3-dbusmock): " +
             ReadWholeFile(dir_.File("mock.log"));
    return false;
}

QDBusConnection NotifyMockBus::Connect(const QString& name)
{
    connections_.push_back(name);
    return QDBusConnection::connectToBus(QString::fromStdString(address_), name);
}

QDBusMessage NotifyMockBus::Call(const QString& method, const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kMock, method);
    message.setArguments(args);
    const QDBusMessage reply = QDBusConnection(control_).call(message, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        ADD_FAILURE() << "mock refused " << method.toStdString() << ": "
                      << reply.errorMessage().toStdString();
    return reply;
}

std::vector<QVariantList> NotifyMockBus::NotifyCalls()
{
    std::vector<QVariantList> calls;
    const QDBusMessage reply = Call("GetMethodCalls", {QStringLiteral("Notify")});
    if (reply.arguments().isEmpty())
        return calls;
    const QDBusArgument list = reply.arguments().constFirst().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        qulonglong when = 0;
        QVariantList args;
        list.beginStructure();
        list >> when >> args;
        list.endStructure();
        calls.push_back(args);
    }
    list.endArray();
    return calls;
}

void NotifyMockBus::InvokeAction(uint id, const QString& action)
{
    Call("EmitSignal", {kInterface, QStringLiteral("ActionInvoked"), QStringLiteral("us"),
                        QVariantList{QVariant::fromValue(id), action}});
}

void NotifyMockBus::SetInhibited(bool value)
{
    Call("AddProperty",
         {kInterface, QStringLiteral("Inhibited"), QVariant::fromValue(QDBusVariant(value))});
}
