#pragma once

#include "unreadcounter.h"

#include <QLocalSocket>
#include <QObject>
#include <QTimer>
#include <mutex>
#include <vector>

// The unread counts of this data folder as they change, for the watch mode's own lines and
// for watchers attached over the single-instance socket.
//
// Recount() reads the counts now (UnreadCounter rereads only changed files) and emits
// changed() when they differ from the last ones; Start() counts once, emits changed() for
// that first count and then recounts every `periodMs` (Attach() starts the period too), so a
// mark-read by any writer (the desktop, the command line, another program) shows within a period.
// Attach() sends an attached watcher the current counts at once and every change after, each as one
// line "postwatch/1 counts " + StreamLine(); a watcher that cannot keep up (more than kMaxBacklog
// bytes unsent) or hangs up is dropped.
//
// Threads: the thread of the event loop; Recount may be queued from any thread.
class UnreadCountFeed : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxBacklog = 1 << 20;

    explicit UnreadCountFeed(int periodMs = 1000, QObject* parent = nullptr);
    // Held while counting: the lock the process's own store writers hold (see UnreadCounter).
    void SetStoreLock(std::mutex* lock) { storeLock_ = lock; }
    void Start();
    const UnreadCounts& Counts() const { return counts_; }

    // The counts as the stream carries them: {"unread":N,"accounts":[["NAME",n],...]}
    // (an array, so the account order survives).
    static std::string StreamLine(const UnreadCounts& counts);
    // The counts back from a stream line's JSON; false for anything that is not one.
    static bool FromStreamLine(const QByteArray& json, UnreadCounts& counts);

public slots:
    void Recount();
    void Attach(QLocalSocket* socket);

signals:
    void changed();

private:
    void Send(QLocalSocket* socket);

    QTimer timer_;
    UnreadCounter counter_;
    UnreadCounts counts_;
    bool counted_ = false;
    std::mutex* storeLock_ = nullptr;
    std::vector<QLocalSocket*> watchers_;
};
