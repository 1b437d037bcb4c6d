#include "networkmanagerclient.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMap>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <utility>

namespace
{

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerIface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettingsIface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kProfileIface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kActiveIface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kPropertiesIface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kNoObject = QStringLiteral("/");

// NMState: the connected states are local (50), site (60) and global (70).
constexpr uint32_t kStateConnectedLocal = 50;
constexpr uint32_t kStateConnectedGlobal = 70;
// NMActiveConnectionState.
constexpr uint32_t kActiveActivated = 2;
constexpr uint32_t kActiveDeactivated = 4;

constexpr int kActivatePollMs = 100;
// Hanging up is usually quick; a short poll keeps the worker's pause short.
constexpr int kHangUpPollMs = 10;

const char* const kDefaultSystemBus = "unix:path=/var/run/dbus/system_bus_socket";

using Clock = std::chrono::steady_clock;
using SettingsMap = QMap<QString, QVariantMap>;

// One conversation with NetworkManager over an open connection.
class Manager
{
public:
    Manager(QDBusConnection connection, int timeoutMs)
        : connection_(std::move(connection)), timeoutMs_(timeoutMs)
    {
    }

    QDBusMessage Call(const QString& path, const QString& iface, const QString& method,
                      const QList<QVariant>& args = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, path, iface, method);
        message.setArguments(args);
        // A mail checker has no business starting the network manager of a system that
        // runs without one.
        message.setAutoStartService(false);
        return connection_.call(message, QDBus::Block, timeoutMs_);
    }

    // Properties are read with an explicit Properties.Get: the values then arrive as
    // variants of the property's own type, whatever the service's introspection says.
    std::optional<QVariant> Property(const QString& path, const QString& iface, const QString& name)
    {
        const QDBusMessage reply =
            Call(path, kPropertiesIface, QStringLiteral("Get"), {QVariant(iface), QVariant(name)});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        QVariant value = reply.arguments().constFirst();
        if (value.canConvert<QDBusVariant>())
            value = value.value<QDBusVariant>().variant();
        return value;
    }

    std::optional<uint32_t> UintProperty(const QString& path, const QString& iface,
                                         const QString& name)
    {
        const std::optional<QVariant> value = Property(path, iface, name);
        bool ok = false;
        const uint32_t number = value ? value->toUInt(&ok) : 0;
        if (!ok)
            return std::nullopt;
        return number;
    }

    QString PathProperty(const QString& path, const QString& iface, const QString& name)
    {
        const std::optional<QVariant> value = Property(path, iface, name);
        if (!value || !value->canConvert<QDBusObjectPath>())
            return {};
        return value->value<QDBusObjectPath>().path();
    }

    QList<QDBusObjectPath> PathListProperty(const QString& path, const QString& iface,
                                            const QString& name)
    {
        const std::optional<QVariant> value = Property(path, iface, name);
        return value ? ToPathList(*value) : QList<QDBusObjectPath>{};
    }

    QList<QDBusObjectPath> Profiles()
    {
        const QDBusMessage reply = Call(kSettingsPath, kSettingsIface, "ListConnections");
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return ToPathList(reply.arguments().constFirst());
    }

    // The profile's settings (a{sa{sv}}), secrets left out by NetworkManager.
    std::optional<SettingsMap> ProfileSettings(const QString& profile)
    {
        const QDBusMessage reply = Call(profile, kProfileIface, "GetSettings");
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        const QVariant value = reply.arguments().constFirst();
        if (!value.canConvert<QDBusArgument>())
            return std::nullopt;
        SettingsMap settings;
        value.value<QDBusArgument>() >> settings;
        return settings;
    }

    // The state of an active connection; nullopt once NetworkManager has dropped it.
    std::optional<uint32_t> ActiveState(const QString& active)
    {
        return UintProperty(active, kActiveIface, QStringLiteral("State"));
    }

    QList<QDBusObjectPath> ActiveConnections()
    {
        return PathListProperty(kManagerPath, kManagerIface, QStringLiteral("ActiveConnections"));
    }

    enum class Kind { None, Lan, Wan };

    // What an active connection contributes to the alive flags.
    Kind Classify(const QString& active)
    {
        const std::optional<QVariant> typeValue =
            Property(active, kActiveIface, QStringLiteral("Type"));
        if (!typeValue)
            return Kind::None;
        const QString type = typeValue->toString();
        if (type == "loopback" || type == "vpn" || type == "wireguard")
            return Kind::None;
        if (type == "ppp" || type == "pppoe" || type == "gsm" || type == "cdma")
            return Kind::Wan;
        if (type == "bluetooth") {
            // Bluetooth is dial-up only with the DUN profile; PANU is a LAN.
            const QString profile =
                PathProperty(active, kActiveIface, QStringLiteral("Connection"));
            const std::optional<SettingsMap> settings =
                profile.isEmpty() ? std::nullopt : ProfileSettings(profile);
            if (settings && settings->value("bluetooth").value("type").toString() == "dun")
                return Kind::Wan;
        }
        return Kind::Lan;
    }

private:
    static QList<QDBusObjectPath> ToPathList(const QVariant& value)
    {
        if (value.canConvert<QDBusArgument>())
            return qdbus_cast<QList<QDBusObjectPath>>(value.value<QDBusArgument>());
        return value.value<QList<QDBusObjectPath>>();
    }

    QDBusConnection connection_;
    int timeoutMs_;
};

std::string SystemBusAddress()
{
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return address && *address ? address : kDefaultSystemBus;
}

std::string NewConnectionName()
{
    static std::atomic<unsigned> counter{0};
    return "postwatch-network-" + std::to_string(counter.fetch_add(1));
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

NetworkManagerClient::NetworkManagerClient() : NetworkManagerClient(Options{})
{
}

NetworkManagerClient::NetworkManagerClient(Options options)
    : options_(std::move(options)), connectionName_(NewConnectionName()),
      fallback_(options_.procRoot)
{
}

NetworkManagerClient::~NetworkManagerClient()
{
    QDBusConnection::disconnectFromBus(Q(connectionName_));
}

// (Re)connects when needed: the system bus may start after the program did.
bool NetworkManagerClient::Connect()
{
    const QString name = Q(connectionName_);
    if (QDBusConnection(name).isConnected())
        return true;
    QDBusConnection::disconnectFromBus(name);
    const std::string address =
        options_.busAddress.empty() ? SystemBusAddress() : options_.busAddress;
    return QDBusConnection::connectToBus(Q(address), name).isConnected();
}

bool NetworkManagerClient::ManagerPresent()
{
    if (!Connect())
        return false;
    QDBusMessage ask = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner");
    ask.setArguments({kService});
    const QDBusMessage reply =
        QDBusConnection(Q(connectionName_)).call(ask, QDBus::Block, options_.callTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toBool();
}

uint32_t NetworkManagerClient::AliveFlags()
{
    if (!Connect())
        return fallback_.AliveFlags();
    Manager nm(QDBusConnection(Q(connectionName_)), options_.callTimeoutMs);
    const std::optional<uint32_t> state =
        nm.UintProperty(kManagerPath, kManagerIface, QStringLiteral("State"));
    if (!state)
        return fallback_.AliveFlags();
    if (*state < kStateConnectedLocal || *state > kStateConnectedGlobal)
        return 0;

    uint32_t flags = 0;
    const auto add = [&flags](Manager::Kind kind) {
        if (kind == Manager::Kind::Lan)
            flags |= kAliveLan;
        else if (kind == Manager::Kind::Wan)
            flags |= kAliveWan;
    };
    // The connection that carries the default route says how the network is reached. The
    // others do not count: a container or virtual-machine bridge is always up beside a
    // modem, and would make a dial-up line look like one among others, so it would never
    // be adopted or hung up. Only without a primary one do the activated ones decide.
    const QString primary =
        nm.PathProperty(kManagerPath, kManagerIface, QStringLiteral("PrimaryConnection"));
    if (!primary.isEmpty() && primary != kNoObject) {
        add(nm.Classify(primary));
    } else {
        for (const QDBusObjectPath& active : nm.ActiveConnections()) {
            if (nm.ActiveState(active.path()) == kActiveActivated)
                add(nm.Classify(active.path()));
        }
    }
    return flags != 0 ? flags : kAliveLan;
}

std::vector<std::string> NetworkManagerClient::ListEntries()
{
    std::vector<std::string> entries;
    if (!Connect())
        return entries;
    Manager nm(QDBusConnection(Q(connectionName_)), options_.callTimeoutMs);
    for (const QDBusObjectPath& profile : nm.Profiles()) {
        const std::optional<SettingsMap> settings = nm.ProfileSettings(profile.path());
        if (!settings)
            continue;
        const QVariantMap connection = settings->value("connection");
        const std::string id = connection.value("id").toString().toStdString();
        if (id.empty() || connection.value("type").toString() == "loopback")
            continue;
        if (std::find(entries.begin(), entries.end(), id) == entries.end())
            entries.push_back(id);
    }
    return entries;
}

NetworkBackend::DialResult NetworkManagerClient::Dial(const std::string& entry)
{
    DialResult result;
    if (entry.empty() || !Connect())
        return result;
    Manager nm(QDBusConnection(Q(connectionName_)), options_.callTimeoutMs);
    QString profile;
    for (const QDBusObjectPath& candidate : nm.Profiles()) {
        const std::optional<SettingsMap> settings = nm.ProfileSettings(candidate.path());
        if (settings && settings->value("connection").value("id").toString() == Q(entry)) {
            profile = candidate.path();
            break;
        }
    }
    if (profile.isEmpty())
        return result;

    result.status = DialResult::Status::Failed;
    const QDBusMessage reply = nm.Call(kManagerPath, kManagerIface, "ActivateConnection",
                                       {QVariant::fromValue(QDBusObjectPath(profile)),
                                        QVariant::fromValue(QDBusObjectPath(kNoObject)),
                                        QVariant::fromValue(QDBusObjectPath(kNoObject))});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
        !reply.arguments().constFirst().canConvert<QDBusObjectPath>()) {
        const QString why = reply.errorMessage().isEmpty()
                                ? QStringLiteral("NetworkManager did not answer.")
                                : reply.errorMessage();
        result.errorText = "Could not connect \"" + entry + "\": " + why.toStdString();
        return result;
    }
    const QString active = reply.arguments().constFirst().value<QDBusObjectPath>().path();

    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(options_.activateTimeoutMs);
    for (;;) {
        const std::optional<uint32_t> state = nm.ActiveState(active);
        if (state == kActiveActivated) {
            result.status = DialResult::Status::Connected;
            result.connection = active.toStdString();
            return result;
        }
        // Deactivating or deactivated while dialling: the link did not come up.
        if (!state || *state > kActiveActivated) {
            result.errorText = "Could not connect \"" + entry + "\": the connection was refused.";
            break;
        }
        if (Clock::now() >= deadline) {
            const int seconds = (options_.activateTimeoutMs + 999) / 1000;
            result.errorText = "Could not connect \"" + entry + "\": no connection within " +
                               std::to_string(seconds) + (seconds == 1 ? " second." : " seconds.");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kActivatePollMs));
    }
    // Leave nothing half-open behind: a modem still dialling would go on doing so.
    HangUp(active.toStdString());
    return result;
}

std::string NetworkManagerClient::FindConnectedDialup()
{
    if (!Connect())
        return {};
    Manager nm(QDBusConnection(Q(connectionName_)), options_.callTimeoutMs);
    for (const QDBusObjectPath& active : nm.ActiveConnections()) {
        if (nm.ActiveState(active.path()) == kActiveActivated &&
            nm.Classify(active.path()) == Manager::Kind::Wan)
            return active.path().toStdString();
    }
    return {};
}

bool NetworkManagerClient::HangUp(const std::string& connection)
{
    if (connection.empty())
        return true;
    if (!Connect())
        return false;
    Manager nm(QDBusConnection(Q(connectionName_)), options_.callTimeoutMs);
    const QString active = Q(connection);
    // An error here mostly means the connection is no longer active; the wait below tells.
    nm.Call(kManagerPath, kManagerIface, "DeactivateConnection",
            {QVariant::fromValue(QDBusObjectPath(active))});

    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(options_.hangUpTimeoutMs);
    for (;;) {
        const std::optional<uint32_t> state = nm.ActiveState(active);
        if (!state || *state >= kActiveDeactivated ||
            !nm.ActiveConnections().contains(QDBusObjectPath(active)))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kHangUpPollMs));
    }
}
