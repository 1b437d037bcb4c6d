#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <string>

// The desktop's notification server (org.freedesktop.Notifications on the session bus):
// new-mail and failure notices as the server shows them, their actions, and the server's
// do-not-disturb state.
//
// Show() sends one Notify call: the program's icon ("postwatch", the installed icon's
// name), the summary and body as given, the hint "category" ("email.arrived" for new mail
// and the quiet-time summary, "email" for a failure) and "desktop-entry", and, when the server's
// capabilities list "actions" and the notice is about new mail, the actions "open" ("Open") and
// "mark-read"
// ("Mark as read"). Each account has one notice at a time: the next Show() for it passes
// the id the server gave the last one as replaces_id, so a check replaces its account's
// earlier notice instead of stacking another. Show() is false when no server answered;
// the caller then shows its own popup, so a notice is never lost to a missing server.
//
// A failure notice given a `trustPin` (a check refused the server's certificate) offers the
// action "trust" ("Trust this certificate for this account", text 40802) where the server
// has actions.
//
// When the user picks an action, openRequested(), markReadRequested() or trustRequested()
// (with the fingerprint that notice offered) fires with the account whose notice it was;
// actions of notices this object did not send are ignored.
//
// Inhibited(): the server's "Inhibited" property (servers that have a do-not-disturb
// switch); nothing when the server has no such property or does not answer.
//
// The session bus is joined at the first call, not at construction: a program that never
// sends a notice or asks for do-not-disturb starts no D-Bus connection (and its thread).
//
// Every call waits at most kCallTimeoutMs for the server. Threads: the GUI thread.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCallTimeoutMs = 2000;
    // The name of the installed icon and desktop entry (the build's POSTWATCH_APP_ID).
    static constexpr char kAppIcon[] = POSTWATCH_APP_ID;

    enum class Kind { NewMail, Failure, Summary };

    // On the session bus, joined at the first call.
    explicit DesktopNotifier(QObject* parent = nullptr);
    // On `bus` (a private bus in tests).
    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);

    // A server answers GetCapabilities.
    bool Available();
    bool Show(const std::string& account, Kind kind, const std::string& summary,
              const std::string& body, const std::string& trustPin = {});
    std::optional<bool> Inhibited();

signals:
    void openRequested(const QString& account);
    void markReadRequested(const QString& account);
    void trustRequested(const QString& account, const QString& pin);

private slots:
    void OnActionInvoked(uint id, const QString& action);
    void OnClosed(uint id, uint reason);

private:
    bool Capabilities(QStringList& capabilities);
    // The bus, joined and listened to on first use.
    QDBusConnection& Bus();
    // Hears the server's ActionInvoked and NotificationClosed signals.
    void Listen();

    std::optional<QDBusConnection> bus_;
    std::map<std::string, uint> ids_;  // account -> the id of its notice
    std::map<uint, std::string> pins_; // notice id -> the fingerprint its "trust" offers
};
