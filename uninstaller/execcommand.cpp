#include "execcommand.h"

#include <cstring>

namespace
{

// The characters the freedesktop desktop-entry format ("The Exec key") says must be quoted.
bool IsReserved(char c)
{
    return c == '\0' || std::strchr(" \t\n\"'\\><~|&;$*?#()`", c) != nullptr;
}

// Inside double quotes only these four may follow a backslash.
bool IsEscapable(char c)
{
    return c == '"' || c == '`' || c == '$' || c == '\\';
}

bool Fail(std::vector<std::string>* args, std::string* error, std::string message)
{
    args->clear();
    if (error)
        *error = std::move(message);
    return false;
}

} // namespace

bool ExecCommand::Split(const std::string& command, std::vector<std::string>* args,
                        std::string* error)
{
    args->clear();
    size_t i = 0;
    const size_t n = command.size();
    while (i < n) {
        if (command[i] == ' ') {
            ++i;
            continue;
        }
        std::string arg;
        if (command[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                const char c = command[i];
                if (c == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (c == '\\') {
                    if (i + 1 >= n || !IsEscapable(command[i + 1]))
                        return Fail(args, error,
                                    "a backslash inside quotes may only come before \" ` $ or \\");
                    arg += command[i + 1];
                    i += 2;
                    continue;
                }
                if (c == '\0' || c == '\n')
                    return Fail(args, error, "the command holds a line break or a zero byte");
                arg += c;
                ++i;
            }
            if (!closed)
                return Fail(args, error, "a quoted argument has no closing quote");
            // A quoted argument is one whole argument: something glued to its end would be
            // read differently by a shell.
            if (i < n && command[i] != ' ')
                return Fail(args, error, "a quoted argument must be followed by a space");
        } else {
            while (i < n && command[i] != ' ') {
                if (IsReserved(command[i]))
                    return Fail(
                        args, error,
                        std::string("the character '") +
                            (command[i] == '\0' ? std::string("\\0") : std::string(1, command[i])) +
                            "' must be inside double quotes");
                arg += command[i++];
            }
        }
        args->push_back(std::move(arg));
    }
    if (args->empty() || args->front().empty())
        return Fail(args, error, "the command names no program");
    return true;
}

std::string ExecCommand::Quote(const std::string& argument)
{
    std::string out = "\"";
    for (char c : argument) {
        if (IsEscapable(c))
            out += '\\';
        out += c;
    }
    return out + "\"";
}
