#include "pluginabicheck.h"

#include "postwatch_plugin.h"

std::string PluginAbiMismatch()
{
    return PluginAbiMismatch(PortalpostAbiVersion(), MapiprobeAbiVersion());
}

std::string PluginAbiMismatch(uint32_t portalpostVersion, uint32_t mapiprobeVersion)
{
    auto say = [](const char* library, uint32_t found) {
        return std::string("postwatch: the plug-in library ") + library + " speaks version " +
               std::to_string(found) + " of the plug-in interface, this program version " +
               std::to_string(POSTWATCH_PLUGIN_ABI_VERSION) + "; install matching versions";
    };
    if (portalpostVersion != POSTWATCH_PLUGIN_ABI_VERSION)
        return say("libportalpost", portalpostVersion);
    if (mapiprobeVersion != POSTWATCH_PLUGIN_ABI_VERSION)
        return say("libmapiprobe", mapiprobeVersion);
    return {};
}
