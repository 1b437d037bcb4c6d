#include "maildirtree.h"

#include "modifiedutf7.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace
{

bool IsDir(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Directory entries other than "." and "..", sorted by name.
std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK)
            continue;
        names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

bool MaildirTree::IsMaildir(const std::string& dir)
{
    return IsDir(dir + "/cur") && IsDir(dir + "/new");
}

std::vector<std::string> MaildirTree::StoresOf(const std::string& root)
{
    std::string base = root;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    if (base.empty())
        return {};
    if (IsMaildir(base))
        return {base};
    std::vector<std::string> stores;
    for (const std::string& name : Entries(base)) {
        // Hidden folders (".notmuch", ".git") are never accounts.
        if (name.front() == '.')
            continue;
        const std::string path = base + "/" + name;
        if (IsMaildir(path))
            stores.push_back(path);
    }
    return stores;
}

std::vector<MaildirTree::Folder> MaildirTree::FoldersOf(const std::string& storeRoot)
{
    std::vector<Folder> folders;
    folders.push_back({storeRoot, "Inbox"});
    for (const std::string& name : Entries(storeRoot)) {
        const std::string display = DisplayName(name);
        if (display.empty())
            continue;
        const std::string path = storeRoot + "/" + name;
        if (IsMaildir(path))
            folders.push_back({path, display});
    }
    return folders;
}

std::string MaildirTree::DisplayName(const std::string& dirName)
{
    // Maildir++: "." then the levels separated by '.'; modified base64 has no '.', so the
    // name splits before it is decoded.
    if (dirName.size() < 2 || dirName.front() != '.' || dirName == "..")
        return {};
    std::string display;
    size_t from = 1;
    while (from <= dirName.size()) {
        size_t dot = dirName.find('.', from);
        if (dot == std::string::npos)
            dot = dirName.size();
        const std::string level = dirName.substr(from, dot - from);
        if (level.empty())
            return {}; // "..x", ".a..b", ".a.": not a folder name
        if (!display.empty())
            display += '/';
        display += ModifiedUtf7::Decode(level);
        from = dot + 1;
    }
    return display;
}

std::string MaildirTree::BaseName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}
