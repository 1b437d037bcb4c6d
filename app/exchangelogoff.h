#pragma once

class MapiprobeLibrary;

// Logs the mailbox plug-in off from the desktop's user-interface thread. The library's
// log-off waits for a new-mail report under way, and that report waits for this thread to
// store it (CQtEngineSink): so the log-off runs on a helper thread while this one goes on
// handling events, user input excepted, until it has returned.
//
// Threads: the user-interface thread (any thread with a Qt event loop).
void LogoffWhileHandlingEvents(MapiprobeLibrary& exchange);
