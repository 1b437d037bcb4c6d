#pragma once

#include <string>

// Where the program's settings live: "Software\\<company>\\<application>" below the current
// user's root of the settings store. The two words are texts 32899 and 32900 of the resource
// bundle; while no bundle is loaded (or it lacks them) they are "Koravel" and "Pigeonpost", so
// that tools and tests without a bundle find the same settings.
//
// Thread-safe (the bundle is read-only once loaded).
class ProgramKey
{
public:
    static std::string CompanyWord();
    static std::string ApplicationWord();
    // "Software\\Koravel\\Pigeonpost".
    static std::string Path();
    // Path() + "\\" + subkey, e.g. Path("Filter Manager"). `subkey` is a key path: a single
    // name that may hold '\\' goes through CRegistryKey::EscapeKeyName first.
    static std::string Path(const std::string& subkey);
};
