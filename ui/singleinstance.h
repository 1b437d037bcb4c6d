#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
#include <QLocalSocket>

// One running program per user and data folder, and the line other starts use to reach it.
//
// The first start listens on a local socket in the abstract namespace (nothing is left on
// disk by a crash, so there is no stale socket to clean up); its name holds the user id and
// a digest of the data folder, so a test run with its own folders never hands over to the
// user's program. A later start connects, asks the first to come forward and is told "ok";
// it then ends (exit code 0) without making a window of its own.
//
// Requests are single lines tagged with the protocol and its version,
// "postwatch/1 show" and "postwatch/1 accounts-changed", answered "postwatch/1 ok" (or
// "postwatch/1 unknown" for a verb this version does not know). A request never passes for
// another: an untagged line, another version or another verb does nothing here. The bare
// "show" of earlier versions is still taken (answered "ok"), and a later start asks an
// instance that does not answer the tagged request once more in that form, so starts and
// running programs of different versions still hand over.
//
// "postwatch/1 watch" asks for the unread counts: an instance that takes watchers
// (AcceptWatchers) answers "postwatch/1 ok", keeps the connection and emits watcherAttached()
// with it; the owner then writes "postwatch/1 counts <json>" lines to it until either side
// closes. An instance that takes none answers "postwatch/1 unknown".
//
// Results of Acquire(): kFirst (we listen now; showRequested() fires for every later start
// and accountsChanged() for every command line that changed accounts), kHandedOver (another
// instance answered), kFailed (neither: we could not listen and nobody answered; the caller
// runs on without the guard).
//
// Threads: Acquire() and the signals on the thread that runs the event loop; Tell() on any
// thread, also in a process without an application object (the command line).
class CSingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Result { kFirst, kHandedOver, kFailed };
    enum class Request { kShow, kAccountsChanged, kWatch, kNone };
    static constexpr int kAnswerWaitMs = 5000;

    explicit CSingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
    ~CSingleInstance() override;

    // "postwatch-<uid>-<digest of the data folder>".
    static QString DefaultName();
    Result Acquire();
    // Listens without asking anybody to come forward (the watch mode, after its attempt to
    // attach): kFirst or kFailed (another instance holds the name).
    Result Listen();
    // Whether watch requests are answered (default: no).
    void AcceptWatchers(bool accept) { acceptWatchers_ = accept; }
    const QString& Name() const { return name_; }

    // Sends `request` to the instance listening on `name`; true when it said it took it.
    // False at once when nobody listens; after at most `waitMs` per step when something
    // listens and does not answer.
    static bool Tell(const QString& name, Request request, int waitMs = kAnswerWaitMs);
    // The request a received line (with its line end) stands for; kNone for anything else.
    static Request ParseRequest(const QByteArray& line);

signals:
    void showRequested();
    void accountsChanged();
    // A watcher attached; the socket is parented to this object and deletes itself once
    // disconnected.
    void watcherAttached(QLocalSocket* socket);

private:
    void OnConnection();

    QString name_;
    std::unique_ptr<QLocalServer> server_;
    bool acceptWatchers_ = false;
};
