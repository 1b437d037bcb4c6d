#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

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
    enum class Request { kShow, kAccountsChanged, kNone };
    static constexpr int kAnswerWaitMs = 5000;

    explicit CSingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
    ~CSingleInstance() override;

    // "postwatch-<uid>-<digest of the data folder>".
    static QString DefaultName();
    Result Acquire();
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

private:
    void OnConnection();

    QString name_;
    std::unique_ptr<QLocalServer> server_;
};
