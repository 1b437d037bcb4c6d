#include "unreadcountfeed.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <algorithm>

UnreadCountFeed::UnreadCountFeed(int periodMs, QObject* parent) : QObject(parent)
{
    timer_.setInterval(periodMs);
    connect(&timer_, &QTimer::timeout, this, &UnreadCountFeed::Recount);
}

void UnreadCountFeed::Start()
{
    Recount();
    timer_.start();
}

void UnreadCountFeed::Recount()
{
    std::unique_lock<std::mutex> guard;
    if (storeLock_)
        guard = std::unique_lock<std::mutex>(*storeLock_);
    UnreadCounts now = counter_.Count();
    if (guard.owns_lock())
        guard.unlock();
    if (counted_ && now == counts_)
        return;
    counted_ = true;
    counts_ = std::move(now);
    for (QLocalSocket* socket : std::vector<QLocalSocket*>(watchers_))
        Send(socket);
    emit changed();
}

void UnreadCountFeed::Attach(QLocalSocket* socket)
{
    watchers_.push_back(socket);
    if (!timer_.isActive())
        timer_.start(); // the desktop counts only while somebody watches
    connect(socket, &QObject::destroyed, this, [this, socket] { std::erase(watchers_, socket); });
    connect(socket, &QLocalSocket::disconnected, this,
            [this, socket] { std::erase(watchers_, socket); });
    if (!counted_)
        Recount(); // sends to every watcher, this one included
    else
        Send(socket);
}

void UnreadCountFeed::Send(QLocalSocket* socket)
{
    // A watcher that reads nothing must not make this program hold its lines forever.
    if (socket->bytesToWrite() > kMaxBacklog) {
        std::erase(watchers_, socket);
        socket->abort();
        return;
    }
    socket->write(QByteArray("postwatch/1 counts ") +
                  QByteArray::fromStdString(StreamLine(counts_)) + '\n');
}

std::string UnreadCountFeed::StreamLine(const UnreadCounts& counts)
{
    QJsonArray accounts;
    for (const auto& [name, n] : counts.accounts)
        accounts.append(QJsonArray{QString::fromStdString(name), n});
    QJsonObject object{{"unread", counts.total}, {"accounts", accounts}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

bool UnreadCountFeed::FromStreamLine(const QByteArray& json, UnreadCounts& counts)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return false;
    const QJsonObject object = doc.object();
    const QJsonValue unread = object.value("unread");
    const QJsonValue accounts = object.value("accounts");
    if (!unread.isDouble() || !accounts.isArray())
        return false;
    UnreadCounts parsed;
    parsed.total = unread.toInt(-1);
    if (parsed.total < 0)
        return false;
    for (const QJsonValue& entry : accounts.toArray()) {
        const QJsonArray pair = entry.toArray();
        if (pair.size() != 2 || !pair[0].isString() || !pair[1].isDouble() || pair[1].toInt(-1) < 0)
            return false;
        parsed.accounts.emplace_back(pair[0].toString().toStdString(), pair[1].toInt());
    }
    counts = std::move(parsed);
    return true;
}
