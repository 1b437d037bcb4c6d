#pragma once

#include "unreadcounter.h"

#include <optional>
#include <string>

// The lines --watch prints, one per change of the unread counts, in the format a status
// bar reads:
// - text:   "3\tWork 2\tHome 1" (the total, then each account and its count; tabs inside a
//           name become blanks);
// - json:   {"unread":3,"accounts":{"Work":2,"Home":1}}
// - waybar: {"text":"3","tooltip":"Work: 2\nHome: 1","class":"unread"} (class "none" at 0),
//           the custom module's return-type json;
// - i3bar:  the protocol's header {"version":1} and "[" once (Header()), then one block
//           list per line, each after the first preceded by a comma: [{"full_text":"3",...}]
//           (its "urgent" is true while anything is unread).
// Names are made printable (PrintableText) and escaped, so every line is one line of valid
// UTF-8 and valid JSON where JSON is due, whatever bytes an account name holds.
class WatchFormat
{
public:
    enum class Kind { Text, Json, Waybar, I3bar };

    // "text", "json", "waybar", "i3bar"; nothing for anything else.
    static std::optional<Kind> Parse(const std::string& name);
    // What comes before the first line ("" but for i3bar), with its line ends.
    static std::string Header(Kind kind);
    // One line without its line end; `first` says whether it is the first after the header.
    static std::string Line(Kind kind, const UnreadCounts& counts, bool first);
};
