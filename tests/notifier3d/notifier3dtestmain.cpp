// One QApplication for the binary (on the X server with-xvfb.sh started, software OpenGL),
// with the resource bundle loaded.
#include "resourcelibrary.h"

#include <QApplication>
#include <cstdio>
#include <gtest/gtest.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define POSTWATCH_LEAK_CHECK_BEFORE_EXIT 1
#endif
#endif

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
    const int result = RUN_ALL_TESTS();
#ifdef POSTWATCH_LEAK_CHECK_BEFORE_EXIT
    // The leak check runs here, while the software renderer's threads sleep, rather than at
    // the process's end, where they are torn down while the checker stops every thread: that
    // has crashed the checker itself (a failed run whose tests all passed).
    __lsan_do_leak_check();
#endif
    return result;
}
