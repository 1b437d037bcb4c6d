// One QApplication for the whole binary, on the offscreen platform unless the environment
// names another, with the resource bundle built beside the binary loaded.
#include "resourcelibrary.h"

#include <QApplication>
#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::string error;
    if (!ResourceLibrary::LoadDefault(&error)) {
        std::fprintf(stderr, "desktop_test: %s\n", error.c_str());
        return 1;
    }
    return RUN_ALL_TESTS();
}
