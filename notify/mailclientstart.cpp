#include "mailclientstart.h"

#include <QProcess>
#include <QStringList>

bool StartMailClientCommand(const std::string& command)
{
    QStringList words = QProcess::splitCommand(QString::fromStdString(command));
    if (words.isEmpty())
        return false;
    const QString program = words.takeFirst();
    return QProcess::startDetached(program, words);
}
