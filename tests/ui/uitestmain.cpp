// One QApplication for the whole binary, on the offscreen platform unless the environment
// names another, with the resource bundle built beside the binary loaded. A Qt warning raised
// from our own sources fails the running test; Qt's remarks about this machine (the offscreen
// platform's missing features) are only printed.
#include "resourcelibrary.h"

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

namespace
{

void Handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    std::fprintf(stderr, "Qt: %s\n", qPrintable(message));
    if (context.file &&
        std::strncmp(context.file, POSTWATCH_SOURCE_DIR, std::strlen(POSTWATCH_SOURCE_DIR)) == 0)
        ADD_FAILURE() << "Qt warning from " << context.file << ":" << context.line << ": "
                      << message.toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    qInstallMessageHandler(Handler);
    QApplication app(argc, argv);
    std::string error;
    if (!ResourceLibrary::LoadDefault(&error)) {
        std::fprintf(stderr, "ui_test: %s\n", error.c_str());
        return 1;
    }
    return RUN_ALL_TESTS();
}
