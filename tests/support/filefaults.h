#pragma once

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// File-layer faults for the writers' tests. Both helpers change process-wide state for the
// length of `operation` only; the tests that use them run one at a time in their binary.

// Runs `operation` while no file may grow past `limit` bytes: writes beyond it fail with
// EFBIG, as they would with ENOSPC on a full disk.
inline int WithFileSizeLimit(rlim_t limit, const std::function<int()>& operation)
{
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &old);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const int result = operation();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &old, nullptr);
    return result;
}

// Runs `operation` with `folder` made read only (0500), then gives the folder back its mode.
// Where permissions do not stop writes (the tests run as root, or with CAP_DAC_OVERRIDE), a
// read-only folder proves nothing; the operation then runs with no room to write at all, which
// fails every writer that a read-only folder would fail (a new file, a rewrite through a
// temporary file), and says so on standard error.
inline int WithReadOnlyFolder(const std::string& folder, const std::function<int()>& operation)
{
    struct stat st {
    };
    if (::stat(folder.c_str(), &st) != 0 || ::chmod(folder.c_str(), 0500) != 0)
        return WithFileSizeLimit(0, operation);
    const bool binding = ::access(folder.c_str(), W_OK) != 0;
    int result = 0;
    if (binding) {
        result = operation();
    } else {
        static bool told = false;
        if (!told)
            std::fprintf(stderr, "note: permissions do not stop writes for this user; a read-only "
                                 "folder is imitated with a zero file-size limit\n");
        told = true;
        result = WithFileSizeLimit(0, operation);
    }
    ::chmod(folder.c_str(), st.st_mode & 07777);
    return result;
}
