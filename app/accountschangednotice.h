#pragma once

// How long the notice waits at each step for a listener that says nothing.
inline constexpr int kAccountsNoticeWaitMs = 2000;

// Tells the desktop program that runs on the same data folder, if one does, that the
// command line has changed accounts, so its tree shows the change at once. Returns true
// when a running program took the notice; false when none answered (none runs, or one of
// an earlier version: it notices the changed files itself, or at its next start). Never
// prints; returns at once when nothing listens.
//
// Call on the main thread of the command line, with or without an application object.
bool NoticeAccountsChanged();
