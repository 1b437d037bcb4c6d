#include "desktopentry.h"

#include "asciitext.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace
{

// Desktop Entry "string" escapes.
std::string UnescapeValue(const std::string& v)
{
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        char c = v[++i];
        switch (c) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default: // unknown escapes (also "\;" in lists) stay for the next stage
            out += '\\';
            out += c;
        }
    }
    return out;
}

std::vector<std::string> SplitList(const std::string& v)
{
    std::vector<std::string> items;
    std::string cur;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size() && v[i + 1] == ';') {
            cur += ';';
            ++i;
        } else if (v[i] == ';') {
            if (!TrimBlanks(cur).empty())
                items.push_back(TrimBlanks(cur));
            cur.clear();
        } else {
            cur += v[i];
        }
    }
    if (!TrimBlanks(cur).empty())
        items.push_back(TrimBlanks(cur));
    return items;
}

bool IsFieldCode(char c)
{
    return std::string_view("fFuUdDnNickvm").find(c) != std::string_view::npos;
}

// Quotes an argument so that QProcess::splitCommand gives it back unchanged: inside double
// quotes, three quotes stand for one literal quote.
std::string QuoteForSplit(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\r\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"')
            out += "\"\"\"";
        else
            out += c;
    }
    return out + "\"";
}

} // namespace

bool DesktopEntry::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str());
}

bool DesktopEntry::Parse(const std::string& content)
{
    *this = DesktopEntry();
    bool inEntry = false;
    bool sawEntry = false;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        std::string t = TrimBlanks(line);
        if (t.empty() || t[0] == '#')
            continue;
        if (t[0] == '[') {
            inEntry = t == "[Desktop Entry]";
            sawEntry = sawEntry || inEntry;
            continue;
        }
        if (!inEntry)
            continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = TrimBlanks(t.substr(0, eq));
        std::string value = UnescapeValue(TrimBlanks(t.substr(eq + 1)));
        if (key == "Name")
            name_ = value;
        else if (key == "Exec")
            exec_ = value;
        else if (key == "Type")
            type_ = value;
        else if (key == "Hidden")
            hidden_ = value == "true";
        else if (key == "MimeType")
            mimeTypes_ = SplitList(value);
    }
    return sawEntry;
}

bool DesktopEntry::HandlesMimeType(const std::string& mimeType) const
{
    std::string want = AsciiLower(mimeType);
    return std::any_of(mimeTypes_.begin(), mimeTypes_.end(),
                       [&](const std::string& m) { return AsciiLower(m) == want; });
}

bool DesktopEntry::IsUsableApplication() const
{
    return !hidden_ && type_ == "Application" && !CommandFromExec(exec_).empty();
}

std::string DesktopEntry::CommandFromExec(const std::string& exec)
{
    // Split by the Exec quoting rules: double quotes group, and inside them a backslash
    // takes the next character literally.
    std::vector<std::string> args;
    std::string cur;
    bool inArg = false;
    bool quoted = false;
    auto flush = [&] {
        if (inArg)
            args.push_back(cur);
        cur.clear();
        inArg = false;
    };
    for (size_t i = 0; i < exec.size(); ++i) {
        char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size())
                cur += exec[++i];
            else if (c == '"')
                quoted = false;
            else
                cur += c;
        } else if (c == '"') {
            quoted = true;
            inArg = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            flush();
        } else {
            cur += c;
            inArg = true;
        }
    }
    flush();

    std::string command;
    for (const std::string& arg : args) {
        std::string out;
        bool onlyCodes = !arg.empty();
        for (size_t i = 0; i < arg.size(); ++i) {
            if (arg[i] == '%' && i + 1 < arg.size()) {
                char code = arg[i + 1];
                if (code == '%') {
                    out += '%';
                    onlyCodes = false;
                    ++i;
                    continue;
                }
                if (IsFieldCode(code)) {
                    ++i;
                    continue;
                }
            }
            out += arg[i];
            onlyCodes = false;
        }
        // "%U" alone was a placeholder for files: the argument disappears with it.
        if (onlyCodes)
            continue;
        if (!command.empty())
            command += ' ';
        command += QuoteForSplit(out);
    }
    return command;
}
