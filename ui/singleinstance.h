#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

// One running program per user and data folder.
//
// The first start listens on a local socket in the abstract namespace (nothing is left on
// disk by a crash, so there is no stale socket to clean up); its name holds the user id and
// a digest of the data folder, so a test run with its own folders never hands over to the
// user's program. A later start connects, asks the first to come forward and is told "ok";
// it then ends (exit code 0) without making a window of its own.
//
// Results of Acquire(): kFirst (we listen now; showRequested() fires for every later start),
// kHandedOver (another instance answered), kFailed (neither: we could not listen and nobody
// answered; the caller runs on without the guard).
//
// Threads: the thread that runs the event loop only.
class CSingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Result { kFirst, kHandedOver, kFailed };
    static constexpr int kAnswerWaitMs = 5000;

    explicit CSingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
    ~CSingleInstance() override;

    // "postwatch-<uid>-<digest of the data folder>".
    static QString DefaultName();
    Result Acquire();
    const QString& Name() const { return name_; }

signals:
    void showRequested();

private:
    bool AskRunning();
    void OnConnection();

    QString name_;
    std::unique_ptr<QLocalServer> server_;
};
