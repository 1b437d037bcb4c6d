#pragma once

// Crash-test hooks. Writers call CrashPoint("mailbox.append.count") between the steps of
// a multi-step update. When the environment variable POSTWATCH_CRASH_AT names that step,
// the process kills itself with SIGKILL right there, so tests can check that every
// intermediate state on disk is recoverable. Without the variable this costs one cached
// lookup.
void CrashPoint(const char* step);

// The same for an input/output error that no test can provoke on a healthy disk (a flush
// that the device refuses): FaultPoint("mailbox.flush") is true when POSTWATCH_FAIL_AT names
// that step, and the caller then fails as the system call would have.
bool FaultPoint(const char* step);
