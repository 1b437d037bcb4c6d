#pragma once

#include <string>
#include <vector>

// Where the Maildirs of a root are: the stores a root gives and the folders of one store.
//
// A Maildir is a directory with the subdirectories cur/ and new/ (tmp/ is only needed to
// deliver). A store is a Maildir root: its folders are the root itself ("Inbox") and its
// Maildir++ subfolders, directories named ".Name" (nested ".A.B") that are Maildirs too.
// A root that is no Maildir but holds Maildirs, as sync tools lay out one folder per account,
// gives one store per such subfolder, in name order.
//
// Reads the file system only; any thread may call. Names are bytes as found on disk.
class MaildirTree
{
public:
    struct Folder {
        std::string path;        // the folder's directory
        std::string displayName; // "Inbox", or the decoded Maildir++ name ("A/B")
    };

    static bool IsMaildir(const std::string& dir);
    // The store roots `root` gives, each an absolute path; none when it holds no Maildir.
    static std::vector<std::string> StoresOf(const std::string& root);
    // The store's folders: the root first, then the subfolders in name order. A subfolder is
    // listed only when it is a Maildir.
    static std::vector<Folder> FoldersOf(const std::string& storeRoot);
    // The display name of a Maildir++ subfolder's directory name (".A.B" -> "A/B"; each level
    // decoded from modified UTF-7). Empty when `dirName` is no Maildir++ folder name.
    static std::string DisplayName(const std::string& dirName);
    // The last component of a path ("/home/ann/Maildir" -> "Maildir").
    static std::string BaseName(const std::string& path);
};
