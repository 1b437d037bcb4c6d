#include "desktopnotifier.h"

#include "resourceids.h"
#include "resourcelibrary.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

namespace
{

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kOpen = QStringLiteral("open");
const QString kMarkRead = QStringLiteral("mark-read");
const QString kTrust = QStringLiteral("trust");
constexpr unsigned kTrustText = 40802; // "Trust this certificate for this account"
// The server decides how long a notice stays (the freedesktop notification protocol, version 1.2).
constexpr int kServerTimeout = -1;

// A server with "body-markup" reads the body as markup (the freedesktop
// notification protocol's markup rules): an account named "<b>A&B" must show as written, not as
// bold text, nor break the notice.
QString Body(const std::string& body, const QStringList& capabilities)
{
    const QString text = QString::fromStdString(body);
    return capabilities.contains(QStringLiteral("body-markup")) ? text.toHtmlEscaped() : text;
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent)
{
}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent) : QObject(parent)
{
    bus_.emplace(std::move(bus));
    Listen();
}

void DesktopNotifier::Listen()
{
    bus_->connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(OnActionInvoked(uint, QString)));
    bus_->connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(OnClosed(uint, uint)));
}

QDBusConnection& DesktopNotifier::Bus()
{
    if (!bus_) {
        bus_.emplace(QDBusConnection::sessionBus());
        Listen();
    }
    return *bus_;
}

bool DesktopNotifier::Capabilities(QStringList& capabilities)
{
    if (!Bus().isConnected())
        return false;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities");
    const QDBusMessage reply = Bus().call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    capabilities = reply.arguments().constFirst().toStringList();
    return true;
}

bool DesktopNotifier::Available()
{
    QStringList capabilities;
    return Capabilities(capabilities);
}

bool DesktopNotifier::Show(const std::string& account, Kind kind, const std::string& summary,
                           const std::string& body, const std::string& trustPin)
{
    QStringList capabilities;
    if (!Capabilities(capabilities))
        return false;
    QStringList actions;
    // Without the "actions" capability a server may show action labels as plain text or
    // refuse them; offer them only where they work.
    if (kind == Kind::NewMail && capabilities.contains(QStringLiteral("actions")))
        actions << kOpen << QString::fromStdString(LoadResourceString(ResId::kNoticeOpen))
                << kMarkRead << QString::fromStdString(LoadResourceString(ResId::kNoticeMarkRead));
    if (kind == Kind::Failure && !trustPin.empty() &&
        capabilities.contains(QStringLiteral("actions")))
        actions << kTrust << QString::fromStdString(LoadResourceString(kTrustText));
    QVariantMap hints;
    hints.insert(QStringLiteral("category"),
                 kind == Kind::Failure ? QStringLiteral("email") : QStringLiteral("email.arrived"));
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kAppIcon));

    const auto old = ids_.find(account);
    const uint replaces = old != ids_.end() ? old->second : 0;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    call << QStringLiteral("Postwatch") << replaces << QString::fromLatin1(kAppIcon)
         << QString::fromStdString(summary) << Body(body, capabilities) << actions << hints
         << kServerTimeout;
    const QDBusMessage reply = Bus().call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const uint id = reply.arguments().constFirst().toUInt();
    if (id == 0)
        return false; // 0 is no notice (the protocol's ids start at 1)
    // Only one account may own an id: a server that reuses ids must not make one
    // account's action act on another.
    for (auto it = ids_.begin(); it != ids_.end();)
        it = it->second == id ? ids_.erase(it) : std::next(it);
    // The notice replaced, if any, takes its offer with it.
    if (replaces != 0)
        pins_.erase(replaces);
    pins_.erase(id);
    if (actions.contains(kTrust))
        pins_[id] = trustPin;
    ids_[account] = id;
    return true;
}

std::optional<bool> DesktopNotifier::Inhibited()
{
    if (!Bus().isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), "Get");
    call << kInterface << QStringLiteral("Inhibited");
    const QDBusMessage reply = Bus().call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    if (value.typeId() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& action)
{
    for (const auto& [account, owned] : ids_) {
        if (owned != id)
            continue;
        const QString name = QString::fromStdString(account);
        if (action == kOpen || action == QStringLiteral("default"))
            emit openRequested(name);
        else if (action == kMarkRead)
            emit markReadRequested(name);
        else if (action == kTrust && pins_.count(id) != 0)
            emit trustRequested(name, QString::fromStdString(pins_[id]));
        return;
    }
}

void DesktopNotifier::OnClosed(uint id, uint)
{
    // A closed notice cannot be replaced; its actions can no longer be picked either.
    for (auto it = ids_.begin(); it != ids_.end();)
        it = it->second == id ? ids_.erase(it) : std::next(it);
    pins_.erase(id);
}
