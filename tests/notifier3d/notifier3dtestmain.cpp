// One QApplication for the binary (on the X server with-xvfb.sh started, software OpenGL),
// with the resource bundle loaded.
#include "resourcelibrary.h"

#include <QApplication>
#include <cstdio>
#include <dlfcn.h>
#include <gtest/gtest.h>

// What the libraries under test keep for the life of the process: Mesa's software driver,
// and Assimp's .x reader after some malformed files.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:swrast_dri\nleak:libLLVM\nleak:libassimp\nleak:libfontconfig\n";
}

int main(int argc, char** argv)
{
    qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
    // Mesa unloads its driver when the last context goes; kept loaded, the leak checker can
    // name what the driver keeps for the life of the process (see lsan.supp).
    for (const char* driver : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so",
                               "/usr/lib/aarch64-linux-gnu/dri/swrast_dri.so",
                               "/usr/lib64/dri/swrast_dri.so", "/usr/lib/dri/swrast_dri.so"})
        if (dlopen(driver, RTLD_NOW | RTLD_NODELETE))
            break;
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
