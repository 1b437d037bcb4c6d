#pragma once

#include <string>
#include <vector>

// A command line written by the Desktop Entry rules for Exec keys, split into the program and
// its arguments so that it can be started directly, without a shell.
//
// Arguments are separated by spaces. An argument that holds a reserved character (space, tab,
// newline, " ' \ > < ~ | & ; $ * ? # ( ) `) must be quoted whole in double quotes; inside the
// quotes `"`, "`", "$" and "\" are written with a backslash before them. Anything else is
// refused rather than guessed at: a command that a shell would read differently never starts.
// Field codes (%f, %u ...) are not expanded: a removal command takes no files.
//
// Split() returns true and fills `args` (at least one element, the program) on success; on
// false `error` says what is wrong and `args` is left empty. Pure function; any thread.
class ExecCommand
{
public:
    static bool Split(const std::string& command, std::vector<std::string>* args,
                      std::string* error = nullptr);
    // The argument quoted so that Split() gives it back unchanged.
    static std::string Quote(const std::string& argument);
};
