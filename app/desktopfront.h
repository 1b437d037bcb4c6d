#pragma once

#include <string>

// The desktop program: the application object, the single-instance hand-off, the settings
// and data preparation, the main window and the checking engine, the reload of accounts
// that the command line or another writer changed (CAccountReloader), and the exit that
// waits for the engine's drain.
//
// Run() returns the process exit code: 0 after a normal exit or a hand-over to the running
// instance, kExitNoDisplay when there is no display to open (one line on standard error
// says so and names the headless options), 1 when start-up fails otherwise.
class DesktopFront
{
public:
    static constexpr int kExitNoDisplay = 2;
    static constexpr int kLoadWaitMs = 60000;
    static constexpr int kEndWaitMs = 5000;

    // Decides, before any Qt window object exists, whether a display can be tried: a set
    // DISPLAY or WAYLAND_DISPLAY, or a QT_QPA_PLATFORM that needs neither (offscreen).
    // `why` gets the one-line explanation when not.
    static bool DisplayConfigured(std::string* why);
    static std::string NoDisplayMessage(const std::string& detail);

    int Run(int argc, char** argv);
};
