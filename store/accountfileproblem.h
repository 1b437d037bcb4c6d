#pragma once

#include <string>

// What keeps an account's Account.inf from being used, in words a user can act on: "the
// account folder <path> is missing", "<path> is missing", "<path> is empty", "cannot read
// <path>: <reason>". Empty when the file is there, regular and not empty (its contents
// may still be wrong: that is the reader's to say).
std::string AccountFileProblem(const std::string& account);
