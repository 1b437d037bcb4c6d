#include "thunderbirdprofiles.h"

#include <cstdlib>
#include <fstream>
#include <map>

namespace
{

bool ReadSmallFile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.clear();
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        out.append(buffer, static_cast<size_t>(in.gcount()));
        if (out.size() > ThunderbirdProfiles::kMaxFileSize)
            return false;
    }
    return true;
}

std::string Trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return {};
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

// Appends `code` as UTF-8.
void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// A JavaScript string literal starting at `at` (the opening quote); false when unterminated.
bool ReadString(const std::string& line, size_t& at, std::string& out)
{
    const char quote = line[at++];
    out.clear();
    while (at < line.size()) {
        char c = line[at++];
        if (c == quote)
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (at >= line.size())
            return false;
        c = line[at++];
        switch (c) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'u': {
            if (at + 4 > line.size())
                return false;
            const std::string hex = line.substr(at, 4);
            char* end = nullptr;
            const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
            if (end != hex.c_str() + 4)
                return false;
            // Surrogates cannot stand alone in UTF-8: they become U+FFFD.
            AppendUtf8(out, (code >= 0xd800 && code <= 0xdfff) ? 0xfffd : code);
            at += 4;
            break;
        }
        default:
            out += c;
            break;
        }
    }
    return false;
}

// One "user_pref("key", value);" line: its key and value as text.
bool ParsePref(const std::string& line, std::string& key, std::string& value)
{
    const std::string head = "user_pref(";
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line.compare(at, head.size(), head) != 0)
        return false;
    at += head.size();
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos || (line[at] != '"' && line[at] != '\''))
        return false;
    if (!ReadString(line, at, key))
        return false;
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos || line[at] != ',')
        return false;
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos)
        return false;
    if (line[at] == '"' || line[at] == '\'')
        return ReadString(line, at, value);
    const size_t end = line.find_first_of(" \t)", at);
    value = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    return !value.empty();
}

} // namespace

std::string ThunderbirdProfiles::DefaultRoot()
{
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.thunderbird";
}

std::vector<ForeignMailAccount> ThunderbirdProfiles::ParsePrefs(const std::string& prefsJs)
{
    // server number -> field -> value
    std::map<unsigned long, std::map<std::string, std::string>> servers;
    const std::string prefix = "mail.server.server";
    size_t start = 0;
    while (start < prefsJs.size()) {
        size_t end = prefsJs.find('\n', start);
        if (end == std::string::npos)
            end = prefsJs.size();
        std::string key;
        std::string value;
        if (ParsePref(prefsJs.substr(start, end - start), key, value) &&
            key.compare(0, prefix.size(), prefix) == 0) {
            const size_t dot = key.find('.', prefix.size());
            const std::string number = key.substr(prefix.size(), dot - prefix.size());
            if (dot != std::string::npos && !number.empty() && number.size() <= 9 &&
                number.find_first_not_of("0123456789") == std::string::npos)
                servers[std::stoul(number)][key.substr(dot + 1)] = value;
        }
        start = end + 1;
    }
    std::vector<ForeignMailAccount> accounts;
    for (auto& [number, fields] : servers) {
        const std::string& type = fields["type"];
        if ((type != "pop3" && type != "imap") || fields["hostname"].empty())
            continue;
        ForeignMailAccount a;
        a.kind = type == "pop3" ? "POP3" : "IMAP4";
        a.server = fields["hostname"];
        a.userName = fields["userName"];
        a.name = fields["name"].empty() ? a.server : fields["name"];
        const std::string& port = fields["port"];
        if (!port.empty() && port.size() <= 5 &&
            port.find_first_not_of("0123456789") == std::string::npos && std::stoi(port) >= 1 &&
            std::stoi(port) <= 65535)
            a.port = port;
        const std::string& socket = fields["socketType"];
        a.security = socket == "3"   ? "TLS"
                     : socket == "2" ? "STARTTLS"
                     : socket == "0" ? "None"
                                     : "";
        accounts.push_back(std::move(a));
    }
    return accounts;
}

std::vector<std::string> ThunderbirdProfiles::ProfileFolders(const std::string& root,
                                                             const std::string& profilesIni)
{
    struct Profile {
        std::string path;
        bool relative = true;
        bool isDefault = false;
    };
    std::vector<Profile> profiles;
    std::string installDefault;
    std::string section;
    size_t start = 0;
    while (start < profilesIni.size()) {
        size_t end = profilesIni.find('\n', start);
        if (end == std::string::npos)
            end = profilesIni.size();
        const std::string line = Trim(profilesIni.substr(start, end - start));
        start = end + 1;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            if (section.compare(0, 7, "Profile") == 0)
                profiles.emplace_back();
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        if (section.compare(0, 7, "Profile") == 0 && !profiles.empty()) {
            if (key == "Path")
                profiles.back().path = value;
            else if (key == "IsRelative")
                profiles.back().relative = value != "0";
            else if (key == "Default")
                profiles.back().isDefault = value == "1";
        } else if (section.compare(0, 7, "Install") == 0 && key == "Default") {
            installDefault = value;
        }
    }
    std::vector<std::string> folders;
    std::vector<std::string> others;
    for (const Profile& p : profiles) {
        if (p.path.empty())
            continue;
        const std::string full = p.relative ? root + "/" + p.path : p.path;
        const bool first = installDefault.empty() ? p.isDefault : p.path == installDefault;
        (first ? folders : others).push_back(full);
    }
    folders.insert(folders.end(), others.begin(), others.end());
    return folders;
}

std::vector<ForeignMailAccount> ThunderbirdProfiles::ReadAccounts(const std::string& root)
{
    std::vector<ForeignMailAccount> all;
    std::string ini;
    if (!ReadSmallFile(root + "/profiles.ini", ini))
        return all;
    for (const std::string& folder : ProfileFolders(root, ini)) {
        std::string prefs;
        if (!ReadSmallFile(folder + "/prefs.js", prefs))
            continue;
        for (ForeignMailAccount& a : ParsePrefs(prefs))
            all.push_back(std::move(a));
    }
    return all;
}
