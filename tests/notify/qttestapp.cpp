#include "qttestapp.h"

#include "resourcelibrary.h"

#include <QApplication>
#include <QEvent>
#include <cstdio>
#include <gtest/gtest.h>
#include <mutex>

namespace
{

QStringList& Recorded()
{
    static QStringList warnings;
    return warnings;
}

bool FromOurSources(const QMessageLogContext& context)
{
    if (!context.file)
        return false;
    const QString file = QString::fromUtf8(context.file);
    return file.startsWith(QStringLiteral(POSTWATCH_SOURCE_DIR)) &&
           !file.startsWith(QStringLiteral(POSTWATCH_SOURCE_DIR "/build/"));
}

void Handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    Recorded().append(message);
    std::fprintf(stderr, "Qt: %s\n", qPrintable(message));
    if (FromOurSources(context))
        ADD_FAILURE() << "warning from " << context.file << ":" << context.line << ": "
                      << message.toStdString();
}

} // namespace

// fontconfig keeps a few bytes of its configuration for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}

void QtTestApp::Ensure()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(Handler);
        static int argc = 1;
        static char name[] = "notify_test";
        static char* argv[] = {name, nullptr};
        // Kept for the life of the process: tests share it, and Qt objects built in one test
        // may be deleted by the next.
        new QApplication(argc, argv);
        std::string error;
        if (!ResourceLibrary::Load(POSTWATCH_BUNDLE_PATH, &error))
            ADD_FAILURE() << error;
    });
}

QStringList QtTestApp::TakeWarnings()
{
    QStringList taken;
    taken.swap(Recorded());
    return taken;
}

void QtTestApp::Flush()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}
