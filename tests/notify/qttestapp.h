#pragma once

#include <QString>
#include <QStringList>

// The one QApplication of a notification test binary, on the offscreen platform unless the
// environment names another, with the program's resource bundle loaded.
//
// Every Qt warning is recorded. A warning raised from our own sources fails the running
// test; others (Qt's remarks about this machine, such as a missing runtime folder) are only
// printed, as a test must not fail on what it does not check.
class QtTestApp
{
public:
    // Creates the application on first use.
    static void Ensure();
    // Warnings recorded since the last call, then forgets them.
    static QStringList TakeWarnings();
    // Runs posted events, deferred deletes included.
    static void Flush();
};
