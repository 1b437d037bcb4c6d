#pragma once

#include <string>

// The resource bundle: every user-visible text, icon, bitmap and menu template of the
// program and its plug-ins, by number. It is one file, "postwatch.rcc" in the asset folder,
// built from resources/ and loaded by name at start-up.
//
// Thread-safe after Load(): any thread may ask for resources.
// Images: resourceimage.h; menu templates: menutemplate.h; toolbars: toolbartemplate.h;
// named numbers: resourceids.h. Loading needs no display and no QGuiApplication.
class ResourceLibrary
{
public:
    // Loads the bundle at `path`. On failure returns false and sets `error` to a message
    // a user can read (which file, why).
    static bool Load(const std::string& path, std::string* error);
    // Loads <asset folder>/postwatch.rcc.
    static bool LoadDefault(std::string* error);
    static void Unload();
    static bool IsLoaded();
    static std::string DefaultPath();
};

// The numbered text in UTF-8; empty when the bundle is not loaded or has no such text.
std::string LoadResourceString(unsigned id);
