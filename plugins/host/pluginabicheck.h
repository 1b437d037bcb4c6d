#pragma once

#include <string>

// Whether the plug-in libraries this program was started with speak its interface version.
// Empty when they do; else a message for the user that names the library.
std::string PluginAbiMismatch();
