#pragma once

#include <string>

// Opens an address in the user's browser through the desktop (QDesktopServices), for the
// command line's sign-in. Does nothing without a display (DISPLAY and WAYLAND_DISPLAY unset
// or empty), so a terminal session only prints the address. Main thread; the command line
// has no application object, so one lives only for the call.
void OpenInBrowser(const std::string& url);
