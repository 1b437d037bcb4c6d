#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The settings store: a registry-like tree of keys and values kept in INI files.
//
// A key path is written with backslashes as in "Software\\Koravel\\Pigeonpost\\General".
// Under each root, "Software\\<Company>\\<Application>" is the file
// <config dir>/<Company>/<Application>.conf; the rest of the path names a group in it.
// The CurrentUser config dir is $XDG_CONFIG_HOME (default ~/.config), the LocalMachine one
// the first entry of $XDG_CONFIG_DIRS (default /etc/xdg), normally read only.
//
// Value and key names compare without regard to case; subkeys enumerate in
// case-insensitive alphabetical order; '/' and '\\' inside a single key name (a filter
// rule's name) are escaped. Every read first picks up what another thread or process
// wrote. Values are strings ("SZ") or 32-bit numbers ("DWORD").
//
// Every operation returns 1 on success and 0 on failure and keeps an errno-style code of
// the last call in LastError(): 0 after success; ENOENT missing key or value; EACCES the store
// cannot be written; EBADF no key is open (or Close on a closed key); EINVAL a malformed path or
// name (paths begin with "Software", no empty parts); ENOTSUP values on "Software" or
// "Software\\<Company>", which are folders and hold none; EPERM deleting "Software"; other
// codes come from the file system (ENOSPC, ENOTDIR, ...). EBADMSG: the settings file holds a value
// QSettings would make an object of (IniHoldsObjectValue); every key in that file fails and the
// file stays as it is until the value is mended.
// A key exists while its group exists; a key that holds no value and no subkey keeps a hidden
// marker value so that it stays visible to Open and EnumSubKeys, and only such a key carries one
// (files that carry a marker in every key read the same, and lose the needless ones at their
// next change). Settings files are created 0600 and
// their folders 0700. Writers of one company folder are serialised by a lock on that folder,
// and each write is an atomic rewrite of the file, so concurrent writers lose nothing. An object is
// used by one thread at a time; different objects may be used from different threads and processes
// at once.
enum class RegistryRoot { CurrentUser, LocalMachine };

class CRegistryKey
{
public:
    CRegistryKey();
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // Opens an existing key, closing the one held before. On failure the object stays closed.
    // A key deleted by someone else while open is made again by the next write.
    int Open(RegistryRoot root, const std::string& subkey);
    // Closing a closed key fails.
    int Close();
    bool IsOpen() const;

    // Sets `value` empty, then reads at most size - 1 bytes of the string value (the
    // Windows version's API counted the terminating zero in `size`); a longer value is cut,
    // at a UTF-8 character boundary when it is UTF-8, and the read still succeeds. size 0: EINVAL.
    // A DWORD value reads as its decimal text.
    int ReadString(const std::string& name, std::string& value, size_t size = 261);
    // The file keeps numbers as decimal text, so any value holding only a decimal number up
    // to 4294967295 reads; anything else fails with EINVAL and leaves `value` unchanged.
    int ReadDword(const std::string& name, uint32_t& value);
    // Writing a name that exists under another case overwrites that value (its stored
    // spelling stays). Texts that are not UTF-8 are kept byte for byte.
    int WriteString(const std::string& name, const std::string& text);
    int WriteDword(const std::string& name, uint32_t value);
    int DeleteValue(const std::string& name);
    // The names of the direct subkeys of the open key, case-insensitively sorted.
    int EnumSubKeys(std::vector<std::string>& names);
    // The names of the values of the open key (as written), case-insensitively sorted.
    int EnumValues(std::vector<std::string>& names);

    // Creates the key and all missing parents. Succeeds when it already exists.
    int CreateKey(RegistryRoot root, const std::string& subkey);
    // Deletes the key with its values and subkeys. Fails when it does not exist.
    int DeleteKey(RegistryRoot root, const std::string& subkey);

    int LastError() const { return lastError_; }

    // A single key name as it must appear inside a subkey path: a path is split at '\\', so
    // a name holding '\\' (or '%') is written escaped. Names from EnumSubKeys are plain and
    // go through this before being joined into a path.
    static std::string EscapeKeyName(const std::string& name);

private:
    struct Impl;
    Impl* impl_;
    int lastError_ = 0;
};
