#pragma once

#include <string>

// Where Postwatch keeps its files.
//
// The data folder is per user and writable: $POSTWATCH_HOME when set, else
// $XDG_DATA_HOME/Koravel/Pigeonpost (XDG_DATA_HOME defaults to ~/.local/share).
// It holds "Account.cfg" and "Mail/<account>/".
//
// The asset folder is read only: $POSTWATCH_ASSETS when set, else the folder beside
// the executable when it holds the resource bundle (build tree), else
// <prefix>/share/pigeonpost. It holds the resource bundle, Model/, Texture/, Sound/, help/.
//
// All functions are thread-safe; they read the environment at each call so that tests
// can relocate everything.
class AppPaths
{
public:
    static std::string DataDir();
    static std::string AssetDir();
    static std::string AccountListFile();                           // <data>/Account.cfg
    static std::string MailDir();                                   // <data>/Mail
    static std::string AccountDir(const std::string& account);      // <data>/Mail/<account>
    static std::string AccountFile(const std::string& account);     // .../Account.inf
    static std::string MailBoxFile(const std::string& account);     // .../Message.box
    static std::string UidFile(const std::string& account);         // .../UID.inf
    static std::string FromNowFile(const std::string& account);     // .../FromNow
    static std::string UidValidityFile(const std::string& account); // .../UidValidity
    static std::string ExecutableDir();

    // Creates a folder and its parents; new folders get the given mode. True when it exists
    // afterwards.
    static bool MakeDirs(const std::string& path, unsigned mode = 0700);
};
