#pragma once

// Crash-test hooks. Writers call CrashPoint("mailbox.append.count") between the steps of
// a multi-step update. When the environment variable POSTWATCH_CRASH_AT names that step,
// the process kills itself with SIGKILL right there, so tests can check that every
// intermediate state on disk is recoverable. Without the variable this costs one cached
// lookup.
void CrashPoint(const char* step);
