#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

// One uninstall registration: a file "<name>.ini" in a registration folder
// (<datadir>/Koravel/uninstall), the counterpart of one subkey of the installed-programs list.
//
//     [Uninstall]
//     DisplayName=Koravel 3D Postwatch
//     UninstallString="/opt/pigeonpost/lib/pigeonpost/pigeonpost-remove" "..." "..."
//
// Lines are "Key=Value" (key names compare without regard to case, the first of a key counts)
// under "[Uninstall]" or before any section; "#" and ";" start comment lines; the value is the
// rest of the line after the "=", without surrounding blanks. Values are taken whole, however
// long. Parse() reads any bytes and never fails; a file with a zero byte yields no values.
//
// Read() opens the file itself and checks it before trusting it: it must be a regular file of
// at most kMaxFileSize bytes, owned by `user` or by root, and writable by nobody but its owner.
// Anyone else who could write it could make the launcher start any command as the user.
// Any thread.
class UninstallRegistration
{
public:
    enum class Status {
        Ok,
        Unreadable, // cannot be opened or read, not a regular file, or too large
        Unsafe,     // owned by another user, or writable by group or others
    };
    static constexpr size_t kMaxFileSize = 64 * 1024;

    static UninstallRegistration Parse(const std::string& text);
    static Status Read(const std::string& path, uid_t user, UninstallRegistration* out);

    const std::optional<std::string>& DisplayName() const { return displayName_; }
    const std::optional<std::string>& UninstallString() const { return uninstallString_; }

private:
    std::optional<std::string> displayName_;
    std::optional<std::string> uninstallString_;
};
