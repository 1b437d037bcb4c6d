#include "watchformat.h"

#include "printabletext.h"

namespace
{

// The inside of a JSON string (RFC 8259 7) of printable, valid UTF-8: only the quote, the
// backslash and the tab that PrintableText keeps need escaping.
std::string JsonBody(const std::string& text)
{
    std::string out;
    for (char c : PrintableText(text)) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

std::string JsonString(const std::string& text)
{
    return '"' + JsonBody(text) + '"';
}

std::string TextName(const std::string& name)
{
    std::string out = PrintableText(name);
    for (char& c : out)
        if (c == '\t')
            c = ' ';
    return out;
}

// One line per account; the line breaks are the tooltip's own, the names cannot add any.
std::string JsonTooltip(const UnreadCounts& counts)
{
    std::string tip;
    for (const auto& [name, n] : counts.accounts)
        tip += (tip.empty() ? "" : "\\n") + JsonBody(name) + ": " + std::to_string(n);
    return '"' + tip + '"';
}

} // namespace

std::optional<WatchFormat::Kind> WatchFormat::Parse(const std::string& name)
{
    if (name == "text")
        return Kind::Text;
    if (name == "json")
        return Kind::Json;
    if (name == "waybar")
        return Kind::Waybar;
    if (name == "i3bar")
        return Kind::I3bar;
    return std::nullopt;
}

std::string WatchFormat::Header(Kind kind)
{
    // The i3bar protocol: a header object, then an endless array of block lists.
    return kind == Kind::I3bar ? "{\"version\":1}\n[\n" : "";
}

std::string WatchFormat::Line(Kind kind, const UnreadCounts& counts, bool first)
{
    const std::string total = std::to_string(counts.total);
    switch (kind) {
    case Kind::Text: {
        std::string line = total;
        for (const auto& [name, n] : counts.accounts)
            line += '\t' + TextName(name) + ' ' + std::to_string(n);
        return line;
    }
    case Kind::Json: {
        std::string line = "{\"unread\":" + total + ",\"accounts\":{";
        bool firstAccount = true;
        for (const auto& [name, n] : counts.accounts) {
            line += (firstAccount ? "" : ",") + JsonString(name) + ':' + std::to_string(n);
            firstAccount = false;
        }
        return line + "}}";
    }
    case Kind::Waybar:
        return "{\"text\":\"" + total + "\",\"tooltip\":" + JsonTooltip(counts) + ",\"class\":\"" +
               (counts.total > 0 ? "unread" : "none") + "\"}";
    case Kind::I3bar:
        return std::string(first ? "" : ",") + "[{\"name\":\"postwatch\",\"full_text\":\"" + total +
               "\",\"urgent\":" + (counts.total > 0 ? "true" : "false") + "}]";
    }
    return total;
}
