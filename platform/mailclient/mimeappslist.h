#pragma once

#include <map>
#include <string>
#include <vector>

// One mimeapps.list (or legacy defaults.list) file: the groups "[Default Applications]",
// "[Added Associations]" and "[Removed Associations]", each mapping a MIME type to a list of
// desktop file IDs. MIME types compare without regard to case.
//
// Pure data; thread-safe as a value.
class MimeAppsList
{
public:
    // False when the file cannot be read (a missing file is the normal case).
    bool Load(const std::string& path);
    void Parse(const std::string& content);

    std::vector<std::string> Defaults(const std::string& mimeType) const;
    std::vector<std::string> Added(const std::string& mimeType) const;
    std::vector<std::string> Removed(const std::string& mimeType) const;

private:
    using Group = std::map<std::string, std::vector<std::string>>;
    static std::vector<std::string> Lookup(const Group& group, const std::string& mimeType);

    Group defaults_;
    Group added_;
    Group removed_;
};
