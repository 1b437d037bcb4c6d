#pragma once

#include <cstdint>
#include <string>

// Whether the plug-in libraries this program was started with speak its interface version.
// Empty when they do; else a message for the user that names the library.
std::string PluginAbiMismatch();

// The same for the versions the two libraries report (PortalpostAbiVersion,
// MapiprobeAbiVersion).
std::string PluginAbiMismatch(uint32_t portalpostVersion, uint32_t mapiprobeVersion);
