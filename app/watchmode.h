#pragma once

#include "watchformat.h"

#include <iosfwd>

// --watch: the unread counts for a status bar, one line per change on `out` (WatchFormat),
// the first at start, until SIGTERM or SIGINT ends it with exit code 0 (or the reader of
// `out` goes away: a write that fails ends it the same way, and for standard output a
// reader that goes between two changes is noticed at once).
//
// One engine per data folder: when a program already runs here (the desktop or another
// --watch), this one attaches to it over the single-instance socket ("postwatch/1 watch")
// and prints the counts it streams, checking nothing itself; should that program end, this
// one takes over and runs the engine. Otherwise it takes the single-instance name itself
// and runs the checking engine headless (the accounts' own schedules and network rules,
// storing as --check-now does) and answers later watchers. A desktop started meanwhile
// hands over to it (it comes to nothing: there is no window to show).
//
// Problems (the engine's texts to show, a lost attachment) go to `err` as lines
// "postwatch: ...". Run on the main thread; makes the process's QCoreApplication.
class WatchMode
{
public:
    WatchMode(WatchFormat::Kind kind, std::ostream& out, std::ostream& err);
    int Run(int argc, char** argv);

private:
    WatchFormat::Kind kind_;
    std::ostream& out_;
    std::ostream& err_;
};
