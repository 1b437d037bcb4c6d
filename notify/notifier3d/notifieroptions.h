#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The 3D notifier's options, kept in the settings store under the program key's "Options"
// (ProgramKey::Path("Options")). The window reads them when it is created and writes them
// back when it closes; the lists of recently used outside files ("Model#1".."Model#5",
// "Texture#1".."Texture#5", most recent first) are read and written by the options menu only.
//
// Reading is liberal: a missing or unreadable value keeps its default, strings are cut to
// 255 bytes, a size other than 1, 2 or 4 reads as 2 (a stored 1000 would ask for a window
// of 128 000 pixels), positions are signed (a window left of or above the screen's origin
// is stored as a negative number's 32-bit pattern) and kept within the 16-bit coordinates of
// the window system (a stored INT_MIN would overflow every sum of the window's geometry; the
// window is brought onto the screen at close anyway). The two double-click options are never
// both on after Load(): "shows" wins, as the menu keeps them.
//
// Threads: the GUI thread (one CRegistryKey per call).
class CNotifierOptions
{
public:
    static constexpr int kRecentCount = 5;
    static constexpr size_t kStringSize = 256;      // at most 255 bytes, as the menu reads them
    static constexpr int kNearestPosition = -32768; // the stored place, at least and at most
    static constexpr int kFarthestPosition = 32767;

    std::string modelDir;   // packaged models, with a trailing '/'
    std::string textureDir; // packaged textures, with a trailing '/'
    bool topMost = true;
    bool usePackageModel = true;
    bool usePackageTexture = true;
    int lastPosX = 0;
    int lastPosY = 0;
    int size = 2; // the window is 128 * size pixels square
    bool dbClickClose = false;
    bool dbClickShow = true;
    std::string lastSelectModel = "default.x";
    std::string lastSelectTexture = "default.bmp";

    // Defaults with the folders beside the program (AppPaths::AssetDir()).
    CNotifierOptions();

    // False when the Options key cannot be opened (the defaults stay).
    bool Load();
    // Writes every value but the lists; creates the key when it is missing.
    bool Save() const;

    // The path of the current model (texture): the folder plus the name when the package
    // flag is on, else the name as a full path.
    std::string ModelPath() const;
    std::string TexturePath() const;

    static bool ValidSize(int n) { return n == 1 || n == 2 || n == 4; }

    // The recent outside files of `prefix` ("Model#" or "Texture#"): the non-empty values
    // of n = 1..5 in that order. False when the Options key cannot be opened.
    static bool ReadRecent(const std::string& prefix, std::vector<std::string>& paths);
    // Makes `path` known as a recent file: when it is already one of the five, nothing
    // changes (the order stays); else entries 1..4 move down one (5 is dropped) and `path`
    // becomes entry 1. False when the key cannot be opened or written.
    static bool RememberRecent(const std::string& prefix, const std::string& path);
};
