// One QApplication for the binary (on the X server with-xvfb.sh started, software OpenGL),
// with the resource bundle loaded.
#include "resourcelibrary.h"

#include <QApplication>
#include <cstdio>
#include <gtest/gtest.h>

// What the libraries under test keep for the life of the process: Assimp's .x reader after
// some malformed files, fontconfig its configuration.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libassimp\nleak:libfontconfig\n";
}

int main(int argc, char** argv)
{
    qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::string error;
    if (!ResourceLibrary::LoadDefault(&error)) {
        std::fprintf(stderr, "notifier3d_test: %s\n", error.c_str());
        return 1;
    }
    return RUN_ALL_TESTS();
}
