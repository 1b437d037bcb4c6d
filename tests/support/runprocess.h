#pragma once

#include <string>
#include <vector>

// Runs a program to completion with the given standard input and extra environment
// ("NAME=value" entries added to the test's own), and collects what it wrote.
struct ProcessResult {
    int exitCode = -1; // -1 when it did not exit normally
    std::string out;
    std::string err;
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "",
                         const std::vector<std::string>& environment = {});
