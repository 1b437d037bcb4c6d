#pragma once

#include "accountlist.h"
#include "accountmanager.h"
#include "apppaths.h"
#include "newaccount.h"
#include "support/tempdir.h"

#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// A data folder with the accounts "Work" and "Home" made as the wizard makes them; Work's
// folder holds a Message.box whose bytes say whose it is, so a test can follow the files.
namespace editortest
{

inline const std::string kWorkMail = "the mail of Work";

struct Home {
    TempDir dir;
    ScopedEnv env{"POSTWATCH_HOME", dir.Path()};

    Home()
    {
        CAccountManager m;
        for (const char* name : {"Work", "Home"})
            CreateNewAccount({name, "POP3", "mail.example.org", "alice", "pw", std::nullopt, ""},
                             &m);
        WriteWholeFile(AppPaths::MailBoxFile("Work"), kWorkMail);
    }
};

inline std::vector<std::string> Listed()
{
    std::vector<AccountListRecord> records;
    CAccountList(AppPaths::AccountListFile()).Load(records);
    std::vector<std::string> names;
    for (const auto& r : records)
        names.push_back(r.name);
    return names;
}

inline std::vector<std::string> RowNames(const CAccountManager& m)
{
    std::vector<std::string> names;
    for (const auto& r : m.Snapshot())
        names.push_back(r.name);
    return names;
}

// The account folders that hold Work's mail.
inline std::vector<std::string> FoldersWithWorkMail()
{
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(AppPaths::MailDir(), ec))
        if (ReadWholeFile((e.path() / "Message.box").string()) == kWorkMail)
            found.push_back(e.path().filename().string());
    return found;
}

inline void SetState(CAccountManager& m, const std::string& name, int requested, int busy, int idle)
{
    m.WithTable([&](std::vector<AccountEntry>& rows) {
        for (auto& r : rows)
            if (r.name == name) {
                // Exactly one of the three flags names the state.
                r.checkState = busy        ? CheckState::Busy
                               : requested ? CheckState::Requested
                               : idle      ? CheckState::Idle
                                           : CheckState::Done;
            }
        return 0;
    });
}

// Runs `op` in a child process and returns its exit status (-1 when it was killed).
inline int InChild(const std::function<int()>& op)
{
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(op());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace editortest
