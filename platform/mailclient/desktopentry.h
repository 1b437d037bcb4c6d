#pragma once

#include <string>
#include <vector>

// One desktop entry file (the freedesktop.org Desktop Entry format): only what finding a
// mail client needs. Keys are read from the "[Desktop Entry]" group; values have their
// escapes (\s \n \t \r \\) undone. Localised keys such as "Name[de]" are ignored.
//
// Pure data; thread-safe as a value.
class DesktopEntry
{
public:
    // Reads the file. False when it cannot be read or has no "[Desktop Entry]" group.
    bool Load(const std::string& path);
    // Parses file content; same result as Load.
    bool Parse(const std::string& content);

    const std::string& Name() const { return name_; }
    const std::string& Exec() const { return exec_; }
    const std::string& Type() const { return type_; }
    bool Hidden() const { return hidden_; }
    const std::vector<std::string>& MimeTypes() const { return mimeTypes_; }
    bool HandlesMimeType(const std::string& mimeType) const;
    // An application entry that is not deleted ("Hidden=true") and has a command.
    bool IsUsableApplication() const;

    // The Exec line as a command line for QProcess::splitCommand: the arguments are split by
    // the Exec quoting rules, field codes (%f %F %u %U %i %c %k and the deprecated ones) are
    // dropped, "%%" becomes "%", and arguments holding blanks or quotes are re-quoted.
    static std::string CommandFromExec(const std::string& exec);

private:
    std::string name_;
    std::string exec_;
    std::string type_;
    bool hidden_ = false;
    std::vector<std::string> mimeTypes_;
};
