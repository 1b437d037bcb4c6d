#include "singleinstance.h"

#include "apppaths.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QVariant>
#include <unistd.h>

namespace
{

constexpr char kRequest[] = "show\n";
constexpr char kAnswer[] = "ok\n";

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
    if (AskRunning())
        return Result::kHandedOver;
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (server_->listen(name_)) {
        connect(server_.get(), &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
        return Result::kFirst;
    }
    // Two starts at once: the other one won the name between our question and our listen.
    server_.reset();
    return AskRunning() ? Result::kHandedOver : Result::kFailed;
}

bool CSingleInstance::AskRunning()
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kAnswerWaitMs))
        return false;
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(kAnswerWaitMs))
        return false;
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(kAnswerWaitMs))
        answer += socket.readAll();
    // A listener that takes the connection but never answers is not a running instance of
    // ours; starting another one beats leaving the user with nothing.
    return answer == kAnswer;
}

void CSingleInstance::OnConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QByteArray line = socket->property("pw_line").toByteArray() + socket->readAll();
            socket->setProperty("pw_line", line);
            if (line.size() > 64) { // not one of ours
                socket->abort();
                return;
            }
            if (!line.contains('\n'))
                return;
            if (line == kRequest) {
                socket->write(kAnswer);
                socket->flush();
                emit showRequested();
            }
            socket->disconnectFromServer();
        });
    }
}
