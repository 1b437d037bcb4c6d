#include "capabilitymemory.h"

#include "apppaths.h"
#include "atomicfilewriter.h"

#include <algorithm>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr char kFileName[] = "/Capabilities";

bool IsWord(const std::string& word, std::size_t limit)
{
    return !word.empty() && word.size() <= limit &&
           std::all_of(word.begin(), word.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

std::vector<std::string> SplitBlanks(const std::string& line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t end = line.find(' ', i);
        if (end == std::string::npos)
            end = line.size();
        words.push_back(line.substr(i, end - i));
        i = end + 1;
    }
    return words;
}

bool ReadSmallFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    text.assign(CCapabilityMemory::kMaxFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text.size() <= CCapabilityMemory::kMaxFileBytes;
}

} // namespace

CCapabilityMemory::CCapabilityMemory(Keep keep) : keep_(keep)
{
}

std::string CCapabilityMemory::ServerKey(const std::string& protocol, const std::string& host,
                                         int port, const std::string& security)
{
    auto word = [](const std::string& part) {
        std::string out;
        for (char c : part)
            out += c > 0x20 && c < 0x7f ? c : '_';
        return out.empty() ? std::string("-") : out;
    };
    return word(protocol) + " " + word(host) + " " + std::to_string(port) + " " + word(security);
}

std::string CCapabilityMemory::Format(const std::string& server,
                                      const std::vector<std::string>& caps)
{
    std::string text = server + "\n";
    bool first = true;
    for (const std::string& c : caps) {
        text += (first ? "" : " ") + c;
        first = false;
    }
    return text + "\n";
}

bool CCapabilityMemory::Parse(const std::string& text, std::string& server,
                              std::vector<std::string>& caps)
{
    if (text.size() > kMaxFileBytes || text.empty() || text.back() != '\n')
        return false;
    std::size_t eol = text.find('\n');
    if (eol + 1 == text.size())
        return false; // one line only
    server = text.substr(0, eol);
    std::string line = text.substr(eol + 1, text.size() - eol - 2);
    if (line.find('\n') != std::string::npos)
        return false;
    std::vector<std::string> serverWords = SplitBlanks(server);
    if (serverWords.size() != 4 ||
        !std::all_of(serverWords.begin(), serverWords.end(),
                     [](const std::string& w) { return IsWord(w, 1024); }))
        return false;
    caps.clear();
    if (line.empty())
        return true;
    caps = SplitBlanks(line);
    if (caps.size() > kMaxCapabilities)
        return false;
    return std::all_of(caps.begin(), caps.end(),
                       [](const std::string& c) { return IsWord(c, kMaxCapabilityLength); });
}

std::vector<std::string> CCapabilityMemory::Recall(const std::string& account,
                                                   const std::string& server)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(account);
    if (it == entries_.end() && keep_ == Keep::InAccountFolder) {
        std::string text;
        Entry entry;
        if (ReadSmallFile(AppPaths::AccountDir(account) + kFileName, text) &&
            Parse(text, entry.server, entry.capabilities))
            it = entries_.emplace(account, std::move(entry)).first;
    }
    if (it == entries_.end() || it->second.server != server)
        return {};
    return it->second.capabilities;
}

void CCapabilityMemory::Remember(const std::string& account, const std::string& server,
                                 const std::vector<std::string>& capabilities)
{
    Entry entry;
    entry.server = server;
    for (const std::string& c : capabilities) {
        if (IsWord(c, kMaxCapabilityLength) && entry.capabilities.size() < kMaxCapabilities)
            entry.capabilities.push_back(c);
    }
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(account);
    if (it != entries_.end() && it->second.server == entry.server &&
        it->second.capabilities == entry.capabilities)
        return; // unchanged: no rewrite
    if (keep_ == Keep::InAccountFolder) {
        // Only into an account folder that exists: a check never creates one.
        const std::string dir = AppPaths::AccountDir(account);
        struct stat st {
        };
        if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            const std::string path = dir + kFileName;
            if (entry.capabilities.empty()) {
                ::unlink(path.c_str());
            } else {
                AtomicFileWriter writer(path, 0600);
                if (!(writer.Open() && writer.Write(Format(entry.server, entry.capabilities)) &&
                      writer.Commit()))
                    writer.Discard(); // a cache: the next check simply asks step by step
            }
        }
    }
    if (entry.capabilities.empty())
        entries_.erase(account);
    else
        entries_[account] = std::move(entry);
}
