// uninstaller: starts the registered removal command of the product named on the command line
// ("uninstaller Koravel"). Windowless and silent: its only output is the process it starts.
#include "uninstalllauncher.h"

#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const UninstallLauncher launcher(UninstallLauncher::FoldersFromEnvironment(), ::geteuid(),
                                     &UninstallLauncher::StartDetached);
    return launcher.Run(args);
}
