#include "mailclientlist.h"

#include "desktopentry.h"
#include "mimeappslist.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

namespace
{

namespace fs = std::filesystem;

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string Home()
{
    std::string home = Env("HOME");
    return home.empty() ? std::string("/tmp") : home;
}

std::vector<std::string> SplitPaths(const std::string& list)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            out.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string EnvOr(const char* name, const std::string& fallback)
{
    std::string v = Env(name);
    return v.empty() ? fallback : v;
}

std::vector<std::string> ConfigDirs()
{
    return SplitPaths(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"));
}
std::vector<std::string> DataDirs()
{
    return SplitPaths(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"));
}
std::string ConfigHome()
{
    return EnvOr("XDG_CONFIG_HOME", Home() + "/.config");
}
std::string DataHome()
{
    return EnvOr("XDG_DATA_HOME", Home() + "/.local/share");
}

std::vector<std::string> DesktopNames()
{
    std::vector<std::string> names = SplitPaths(Env("XDG_CURRENT_DESKTOP"));
    for (auto& n : names)
        std::transform(n.begin(), n.end(), n.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return names;
}

// The association files, highest precedence first.
std::vector<MimeAppsList> LoadAssociationLists()
{
    std::vector<std::string> paths;
    auto addDir = [&](const std::string& dir, bool legacy) {
        for (const auto& desktop : DesktopNames())
            paths.push_back(dir + "/" + desktop + "-mimeapps.list");
        paths.push_back(dir + "/mimeapps.list");
        if (legacy)
            paths.push_back(dir + "/defaults.list");
    };
    addDir(ConfigHome(), false);
    for (const auto& d : ConfigDirs())
        addDir(d, false);
    addDir(DataHome() + "/applications", true);
    for (const auto& d : DataDirs())
        addDir(d + "/applications", true);
    std::vector<MimeAppsList> lists;
    for (const auto& p : paths) {
        MimeAppsList list;
        if (list.Load(p))
            lists.push_back(std::move(list));
    }
    return lists;
}

using EntryMap = std::map<std::string, DesktopEntry>;

// Reads the entries below one applications folder. An ID found earlier (in a folder of higher
// precedence) is kept, also when that entry hides the application.
void ScanFolder(const fs::path& dir, const std::string& prefix, EntryMap& entries, int depth)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec || depth > 8) // a symlink loop must not recurse forever
        return;
    std::vector<fs::directory_entry> children(it, fs::directory_iterator());
    std::sort(children.begin(), children.end());
    for (const auto& child : children) {
        std::string name = child.path().filename().string();
        if (child.is_directory(ec)) {
            ScanFolder(child.path(), prefix + name + "-", entries, depth + 1);
            continue;
        }
        if (name.size() <= 8 || name.compare(name.size() - 8, 8, ".desktop") != 0)
            continue;
        std::string id = prefix + name;
        if (entries.count(id))
            continue;
        DesktopEntry entry;
        if (entry.Load(child.path().string()))
            entries.emplace(id, std::move(entry));
    }
}

EntryMap ScanEntries()
{
    EntryMap entries;
    ScanFolder(DataHome() + "/applications", "", entries, 0);
    for (const auto& d : DataDirs())
        ScanFolder(d + "/applications", "", entries, 0);
    return entries;
}

MailClientInfo InfoOf(const std::string& id, const DesktopEntry& entry)
{
    MailClientInfo info;
    info.id = id;
    info.name = entry.Name().empty() ? id.substr(0, id.size() - 8) : entry.Name();
    info.command = DesktopEntry::CommandFromExec(entry.Exec());
    return info;
}

struct Lookup {
    EntryMap entries;
    std::vector<MimeAppsList> lists;
    std::set<std::string> removed;

    Lookup() : entries(ScanEntries()), lists(LoadAssociationLists())
    {
        for (const auto& l : lists)
            for (const auto& id : l.Removed(MailClientList::kMailtoType))
                removed.insert(id);
    }

    const DesktopEntry* Usable(const std::string& id) const
    {
        auto it = entries.find(id);
        if (it == entries.end() || !it->second.IsUsableApplication())
            return nullptr;
        return &it->second;
    }

    bool Declared(const std::string& id) const
    {
        const DesktopEntry* e = Usable(id);
        return e && e->HandlesMimeType(MailClientList::kMailtoType) && !removed.count(id);
    }

    bool Default(MailClientInfo& client) const
    {
        const char* type = MailClientList::kMailtoType;
        for (const auto& l : lists)
            for (const auto& id : l.Defaults(type))
                if (const DesktopEntry* e = Usable(id)) {
                    client = InfoOf(id, *e);
                    return true;
                }
        for (const auto& l : lists)
            for (const auto& id : l.Added(type))
                if (const DesktopEntry* e = Usable(id); e && !removed.count(id)) {
                    client = InfoOf(id, *e);
                    return true;
                }
        for (const auto& [id, entry] : entries)
            if (Declared(id)) {
                client = InfoOf(id, entry);
                return true;
            }
        return false;
    }
};

} // namespace

bool MailClientList::ReadDefault(MailClientInfo& client)
{
    return Lookup().Default(client);
}

std::vector<MailClientInfo> MailClientList::ReadInstalled()
{
    Lookup lookup;
    std::vector<MailClientInfo> clients;
    MailClientInfo def;
    if (lookup.Default(def))
        clients.push_back(def);
    for (const auto& [id, entry] : lookup.entries)
        if (id != def.id && lookup.Declared(id))
            clients.push_back(InfoOf(id, entry));
    return clients;
}
