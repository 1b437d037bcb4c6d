#include "singleinstance.h"

#include "apppaths.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QVariant>
#include <unistd.h>

namespace
{

// Every request and answer is one line; "postwatch/<version> <verb>".
constexpr char kTag[] = "postwatch/1 ";
constexpr char kShow[] = "postwatch/1 show\n";
constexpr char kAccountsChanged[] = "postwatch/1 accounts-changed\n";
constexpr char kWatch[] = "postwatch/1 watch\n";
constexpr char kOk[] = "postwatch/1 ok\n";
constexpr char kUnknown[] = "postwatch/1 unknown\n";
// The one request and answer of earlier versions.
constexpr char kLegacyShow[] = "show\n";
constexpr char kLegacyOk[] = "ok\n";
constexpr qsizetype kMaxLine = 64; // longer is not one of ours

// Connects, sends `line` and reads one answer line. False when nobody listens; `hungUp`
// tells whether the listener closed the connection without a whole line.
bool Exchange(const QString& name, const QByteArray& line, int waitMs, QByteArray& answer,
              bool& hungUp)
{
    hungUp = false;
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    if (!socket.waitForConnected(waitMs))
        return false;
    socket.write(line);
    if (!socket.waitForBytesWritten(waitMs))
        return true;
    while (!answer.contains('\n') && answer.size() <= kMaxLine && socket.waitForReadyRead(waitMs))
        answer += socket.readAll();
    hungUp = !answer.contains('\n') && socket.state() == QLocalSocket::UnconnectedState;
    return true;
}

} // namespace

CSingleInstance::CSingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name))
{
}

CSingleInstance::~CSingleInstance() = default;

QString CSingleInstance::DefaultName()
{
    QByteArray folder = QByteArray::fromStdString(AppPaths::DataDir());
    QByteArray digest = QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex();
    return QStringLiteral("postwatch-%1-%2")
        .arg(static_cast<qulonglong>(getuid()))
        .arg(QString::fromLatin1(digest.left(16)));
}

CSingleInstance::Result CSingleInstance::Acquire()
{
    if (Tell(name_, Request::kShow))
        return Result::kHandedOver;
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (server_->listen(name_)) {
        connect(server_.get(), &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
        return Result::kFirst;
    }
    // Two starts at once: the other one won the name between our question and our listen.
    server_.reset();
    return Tell(name_, Request::kShow) ? Result::kHandedOver : Result::kFailed;
}

CSingleInstance::Result CSingleInstance::Listen()
{
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (server_->listen(name_)) {
        connect(server_.get(), &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
        return Result::kFirst;
    }
    server_.reset();
    return Result::kFailed;
}

CSingleInstance::Request CSingleInstance::ParseRequest(const QByteArray& line)
{
    if (line == kShow || line == kLegacyShow)
        return Request::kShow;
    if (line == kAccountsChanged)
        return Request::kAccountsChanged;
    if (line == kWatch)
        return Request::kWatch;
    return Request::kNone;
}

bool CSingleInstance::Tell(const QString& name, Request request, int waitMs)
{
    const QByteArray line = request == Request::kShow              ? QByteArray(kShow)
                            : request == Request::kAccountsChanged ? QByteArray(kAccountsChanged)
                                                                   : QByteArray();
    QByteArray answer;
    bool hungUp = false;
    if (line.isEmpty() || !Exchange(name, line, waitMs, answer, hungUp))
        return false;
    if (answer == kOk)
        return true;
    // An instance of an earlier version hangs up on a line it does not know, saying
    // nothing. It still comes forward when asked the old way; nothing else can be told to
    // it. A listener that answers otherwise, or not at all, is not a running instance of
    // ours: starting another one beats leaving the user with nothing.
    if (request == Request::kShow && answer.isEmpty() && hungUp) {
        QByteArray legacy;
        return Exchange(name, kLegacyShow, waitMs, legacy, hungUp) && legacy == kLegacyOk;
    }
    return false;
}

void CSingleInstance::OnConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QByteArray line = socket->property("pw_line").toByteArray() + socket->readAll();
            socket->setProperty("pw_line", line);
            if (line.size() > kMaxLine) {
                socket->abort();
                return;
            }
            if (!line.contains('\n'))
                return;
            Request request = ParseRequest(line);
            if (request == Request::kWatch && !acceptWatchers_)
                request = Request::kNone;
            if (request == Request::kWatch) {
                // The connection stays: the owner streams the counts over it.
                socket->disconnect(this);
                socket->setParent(this);
                socket->write(kOk);
                socket->flush();
                emit watcherAttached(socket);
                return;
            }
            if (request != Request::kNone)
                socket->write(line == kLegacyShow ? kLegacyOk : kOk);
            else if (line.startsWith(kTag))
                socket->write(kUnknown); // a later version's request: the sender falls back
            socket->flush();
            socket->disconnectFromServer();
            // The answer is out before the work starts: the sender does not wait for it.
            if (request == Request::kShow)
                emit showRequested();
            else if (request == Request::kAccountsChanged)
                emit accountsChanged();
        });
    }
}
