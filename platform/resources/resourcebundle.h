#pragma once

#include "menutemplate.h"
#include "stringtable.h"
#include "toolbartemplate.h"

#include <QByteArray>
#include <map>
#include <memory>
#include <string>

class RccArchive;

// The parsed contents of a loaded bundle, and the process-wide "current" bundle behind the
// free Load...() functions.
//
// A bundle is immutable once built. Readers take a shared_ptr copy under a short lock and
// then read without it, so Unload() or a second Load() on another thread never frees data a
// reader is still using.
//
// Images stay PNG files here, checked (signature, header, size) but not decoded: the bundle
// needs Qt Core only, so the engine and the headless program never link Qt Gui.
// resourceimage.h decodes them on first use.
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
    std::map<unsigned, QByteArray> images;   // PNG, nominal size
    std::map<unsigned, QByteArray> images2x; // PNG, twice the size, for high-density screens
    std::map<unsigned, MenuTemplate> menus;
    std::map<unsigned, ToolbarTemplate> toolbars;
};
