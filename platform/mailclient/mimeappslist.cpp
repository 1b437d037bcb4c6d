#include "mimeappslist.h"

#include "asciitext.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace
{

std::vector<std::string> SplitIds(const std::string& v)
{
    std::vector<std::string> ids;
    std::istringstream in(v);
    std::string id;
    while (std::getline(in, id, ';')) {
        id = TrimBlanks(id);
        if (!id.empty())
            ids.push_back(id);
    }
    return ids;
}

} // namespace

bool MimeAppsList::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    Parse(text.str());
    return true;
}

void MimeAppsList::Parse(const std::string& content)
{
    defaults_.clear();
    added_.clear();
    removed_.clear();
    Group* group = nullptr;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        std::string t = TrimBlanks(line);
        if (t.empty() || t[0] == '#')
            continue;
        if (t[0] == '[') {
            if (t == "[Default Applications]")
                group = &defaults_;
            else if (t == "[Added Associations]")
                group = &added_;
            else if (t == "[Removed Associations]")
                group = &removed_;
            else
                group = nullptr;
            continue;
        }
        size_t eq = t.find('=');
        if (!group || eq == std::string::npos)
            continue;
        // A later line for the same type in the same group replaces the earlier one, as in
        // any key file.
        (*group)[AsciiLower(TrimBlanks(t.substr(0, eq)))] = SplitIds(t.substr(eq + 1));
    }
}

std::vector<std::string> MimeAppsList::Lookup(const Group& group, const std::string& mimeType)
{
    auto it = group.find(AsciiLower(mimeType));
    return it == group.end() ? std::vector<std::string>() : it->second;
}

std::vector<std::string> MimeAppsList::Defaults(const std::string& mimeType) const
{
    return Lookup(defaults_, mimeType);
}

std::vector<std::string> MimeAppsList::Added(const std::string& mimeType) const
{
    return Lookup(added_, mimeType);
}

std::vector<std::string> MimeAppsList::Removed(const std::string& mimeType) const
{
    return Lookup(removed_, mimeType);
}
