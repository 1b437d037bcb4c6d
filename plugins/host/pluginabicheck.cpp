#include "pluginabicheck.h"

#include "postwatch_plugin.h"

std::string PluginAbiMismatch()
{
    auto say = [](const char* library, uint32_t found) {
        return std::string("postwatch: the plug-in library ") + library + " speaks version " +
               std::to_string(found) + " of the plug-in interface, this program version " +
               std::to_string(POSTWATCH_PLUGIN_ABI_VERSION) + "; install matching versions";
    };
    if (PortalpostAbiVersion() != POSTWATCH_PLUGIN_ABI_VERSION)
        return say("libportalpost", PortalpostAbiVersion());
    if (MapiprobeAbiVersion() != POSTWATCH_PLUGIN_ABI_VERSION)
        return say("libmapiprobe", MapiprobeAbiVersion());
    return {};
}
