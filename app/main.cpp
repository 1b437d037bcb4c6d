// Postwatch entry point: loads the resource bundle, then runs the desktop program, or the
// headless command line when any option is given.
#include "accountschangednotice.h"
#include "browseropener.h"
#include "commandlineoptions.h"
#include "desktopfront.h"
#include "headlesscommands.h"
#include "pluginabicheck.h"
#include "printabletext.h"
#include "resourcelibrary.h"
#include "watchmode.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Every text the program shows comes from the bundle: without it there is nothing
    // sensible to say but why.
    std::string error;
    if (!ResourceLibrary::LoadDefault(&error)) {
        std::cerr << "postwatch: " << error << "\n";
        return 1;
    }

    // The plug-in libraries are linked in; one from another build must not be trusted.
    if (const std::string mismatch = PluginAbiMismatch(); !mismatch.empty()) {
        std::cerr << mismatch << "\n";
        return 1;
    }

    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        DesktopFront desktop;
        return desktop.Run(argc, argv);
    }
    CommandLineOptions options;
    HeadlessCommands commands(std::cin, std::cout, std::cerr);
    commands.SetBrowserOpener(OpenInBrowser);
    if (!options.Parse(args)) {
        std::cerr << "postwatch: " << PrintableText(options.Error()) << "\n"
                  << CommandLineOptions::Usage();
        return HeadlessCommands::kExitUsage;
    }
    if (options.GetAction() == CommandLineOptions::Action::Watch) {
        const auto kind = WatchFormat::Parse(options.Value("--format").value_or("text"));
        return WatchMode(*kind, std::cout, std::cerr).Run(argc, argv);
    }
    const int code = commands.Run(options);
    if (code == HeadlessCommands::kExitOk && options.ChangesAccounts())
        NoticeAccountsChanged(); // a running desktop shows the change; none is no failure
    return code;
}
