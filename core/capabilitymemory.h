#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

// What each account's mail server announced at its last check (its CAPA or CAPABILITY list),
// so that the next check can send its first commands together. The desktop program keeps it
// in memory; the command line, one check per process, also in a small file "Capabilities" in
// the account's folder.
//
// Nothing here is trusted for security: the clients still check the live answers, and TLS
// requirements come from the account. A list is tied to the server it came from (protocol,
// host, port, security choice): after the account is edited it no longer applies.
//
// The file is a cache, not a record: two lines (the server, then the capabilities separated by
// blanks), rewritten as a whole with AtomicFileWriter. A file that is missing, too long or
// holds anything unexpected reads as nothing remembered; it is never repaired in place.
//
// Threads: any; checks of different accounts use one object at once.
class CCapabilityMemory
{
public:
    enum class Keep { InMemory, InAccountFolder };

    static constexpr std::size_t kMaxFileBytes = 4096;
    static constexpr std::size_t kMaxCapabilities = 64;
    static constexpr std::size_t kMaxCapabilityLength = 64;

    explicit CCapabilityMemory(Keep keep);

    // The list remembered for `account` when it came from `server`; empty otherwise.
    std::vector<std::string> Recall(const std::string& account, const std::string& server);
    // Replaces what is remembered for `account`; an empty list forgets it. Capabilities that
    // could not be written back as one word are left out.
    void Remember(const std::string& account, const std::string& server,
                  const std::vector<std::string>& capabilities);

    // "POP3 mail.example.org 995 TLS": the server a list belongs to (no blank inside a part).
    static std::string ServerKey(const std::string& protocol, const std::string& host, int port,
                                 const std::string& security);
    // The file's two lines, and back; Parse answers false for anything malformed.
    static std::string Format(const std::string& server, const std::vector<std::string>& caps);
    static bool Parse(const std::string& text, std::string& server, std::vector<std::string>& caps);

private:
    struct Entry {
        std::string server;
        std::vector<std::string> capabilities;
    };

    const Keep keep_;
    std::mutex lock_;
    std::map<std::string, Entry> entries_;
};
