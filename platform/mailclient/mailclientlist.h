#pragma once

#include <string>
#include <vector>

// The mail clients installed on this desktop: desktop entries that handle
// "x-scheme-handler/mailto", and the one the user chose as default.
//
// The default is what `xdg-mime query default x-scheme-handler/mailto` reports, worked out
// here without starting a process: the mimeapps.list files in XDG order
//   $XDG_CONFIG_HOME/{$desktop-,}mimeapps.list, each $XDG_CONFIG_DIRS/{$desktop-,}mimeapps.list,
//   $XDG_DATA_HOME/applications/{$desktop-,}mimeapps.list, each
//   $XDG_DATA_DIRS/applications/{$desktop-,}mimeapps.list and defaults.list
// ($desktop: each entry of $XDG_CURRENT_DESKTOP in lower case); the first installed entry of a
// "[Default Applications]" line wins; failing that, the first of "[Added Associations]", then
// the first installed entry that declares the type itself. Desktop file IDs are looked up in
// $XDG_DATA_HOME/applications and then each $XDG_DATA_DIRS/applications (sub-folders give
// "sub-name.desktop"); the first folder that has an ID decides, also when it hides it.
//
// The environment is read at each call. Thread-safe.
struct MailClientInfo {
    std::string id;      // desktop file ID, e.g. "mailer.desktop"
    std::string name;    // the entry's Name
    std::string command; // its Exec line without field codes, for QProcess::splitCommand
};

class MailClientList
{
public:
    static constexpr const char* kMailtoType = "x-scheme-handler/mailto";

    // The default mail client. False when there is none.
    static bool ReadDefault(MailClientInfo& client);
    // Every installed handler of mailto links, the default first, the others in desktop
    // file ID order. Empty when there is none.
    static std::vector<MailClientInfo> ReadInstalled();
};
