#pragma once

#include "menutemplate.h"
#include "stringtable.h"
#include "toolbartemplate.h"

#include <QImage>
#include <map>
#include <memory>
#include <string>

class RccArchive;

// The parsed contents of a loaded bundle, and the process-wide "current" bundle behind the
// free Load...() functions.
//
// A bundle is immutable once built. Readers take a shared_ptr copy under a short lock and
// then read without it, so Unload() or a second Load() on another thread never frees data a
// reader is still using. QImage copies are implicitly shared with atomic reference counts,
// so handing them out from several threads is safe.
class ResourceBundle
{
public:
    // Layout inside the archive.
    static constexpr const char* kMarkerPath = "postwatch/bundle.json";
    static constexpr const char* kFormatName = "postwatch-resources";
    static constexpr int kFormatVersion = 1;
    static constexpr const char* kStringsPath = "postwatch/strings/en.tsv";
    static constexpr const char* kImagePrefix = "postwatch/images/";
    static constexpr const char* kMenuPrefix = "postwatch/menus/";
    static constexpr const char* kToolbarPrefix = "postwatch/toolbars/";

    // Checks the marker and parses every part. On failure returns nullptr and sets `error` to
    // the reason (without the bundle's file name, which the caller adds).
    static std::shared_ptr<const ResourceBundle> Build(const RccArchive& archive,
                                                       std::string* error);

    static std::shared_ptr<const ResourceBundle> Current();
    static void SetCurrent(std::shared_ptr<const ResourceBundle> bundle);

    StringTable strings;
    std::map<unsigned, QImage> images;   // nominal size
    std::map<unsigned, QImage> images2x; // twice the nominal size, for high-density screens
    std::map<unsigned, MenuTemplate> menus;
    std::map<unsigned, ToolbarTemplate> toolbars;
};
