#pragma once

#include <QByteArray>
#include <map>
#include <string>

// The numbered texts of the bundle, parsed from a UTF-8 table of "number<TAB>text" lines.
//
// Format: one text per line; "#" starts a comment line; blank lines are ignored; the number
// is decimal, 1 to 65535; the text may use \n, \t and \\ escapes (a literal tab or a trailing
// carriage return is not part of any text). A number may appear once. The text must be valid
// UTF-8. printf-style placeholders are kept as written: the callers format them.
//
// Immutable after Parse(); read from any thread.
class StringTable
{
public:
    // Parses `bytes` (the file named `fileName`, for messages). On failure returns false and
    // sets `error` to "<fileName> line <n>: <reason>"; the table is left empty.
    bool Parse(const QByteArray& bytes, const std::string& fileName, std::string* error);

    // The text, or nullptr when there is none.
    const std::string* Find(unsigned id) const;
    const std::map<unsigned, std::string>& Texts() const { return texts_; }

private:
    std::map<unsigned, std::string> texts_;
};
