#pragma once

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

// A test that needs a real component (Dovecot, Xvfb, the tray host, D-Bus) which cannot start
// here skips on a developer's machine, and ctest counts the skip in its summary. Under
// continuous integration (CI set to anything but "" , "0" or "false"; .ci/run sets CI=true)
// the bootstrap has installed every component, so a missing one is a broken machine: the
// test fails, naming the component. Every such skip goes through MissingComponent():
//
//     if (!dovecot)
//         GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
//
// Under CI it records a fatal failure first, so the skip that follows ends a failed test.
// tests/support/with-xvfb.sh follows the same rule for programs run on a private X server.

inline bool RunningUnderCi()
{
    const char* ci = std::getenv("CI");
    if (ci == nullptr)
        return false;
    const std::string_view value(ci);
    return !value.empty() && value != "0" && value != "false";
}

// The reason to show with the skip: "<component> is not available: <why>".
inline std::string MissingComponent(const std::string& component, const std::string& why)
{
    const std::string text = component + " is not available: " + why;
    // A fatal failure: in a fixture's SetUp() it also keeps the test body from running.
    if (RunningUnderCi())
        [&] { FAIL() << "CI needs " << component << " for this test. " << text; }();
    return text;
}
