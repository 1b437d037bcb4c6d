#include "accountmoves.h"

#include "accountlist.h"
#include "accountlock.h"
#include "accountnames.h"
#include "atomicfilewriter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

bool Listed(const std::vector<std::string>& listed, const std::string& name)
{
    return std::find(listed.begin(), listed.end(), name) != listed.end();
}

// The move is carried out only while no other process checks the folder; false when one
// does (the move then waits for a later start).
bool MayTouch(const std::string& folder, CAccountLock& lock)
{
    if (!Exists(folder))
        return true;
    return lock.Acquire(folder, std::chrono::milliseconds(0)) != CAccountLock::Outcome::Busy;
}

} // namespace

CAccountMoves::CAccountMoves(std::string listPath)
    : path_(std::move(listPath) + CAccountList::kMovesSuffix)
{
}

std::string CAccountMoves::Format(const std::vector<AccountMove>& moves)
{
    std::string out;
    for (const AccountMove& m : moves)
        out += m.kind == AccountMove::Kind::Rename ? "rename/" + m.folder + "/" + m.name + "\n"
                                                   : "remove/" + m.folder + "\n";
    return out;
}

std::vector<AccountMove> CAccountMoves::Parse(const std::string& bytes)
{
    std::vector<AccountMove> moves;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos)
            break; // a torn last line is no move
        const std::string line = bytes.substr(at, end - at);
        at = end + 1;
        size_t first = line.find('/');
        if (first == std::string::npos)
            continue;
        const std::string kind = line.substr(0, first);
        const std::string rest = line.substr(first + 1);
        // Only names that stay inside the mail folder: a damaged or planted journal must
        // never point a removal at "..".
        if (kind == "remove" && AccountNames::IsSafeFolderName(rest)) {
            moves.push_back({AccountMove::Kind::Remove, rest, {}});
        } else if (kind == "rename") {
            size_t second = rest.find('/');
            if (second == std::string::npos)
                continue;
            AccountMove move{AccountMove::Kind::Rename, rest.substr(0, second),
                             rest.substr(second + 1)};
            if (AccountNames::IsSafeFolderName(move.folder) &&
                AccountNames::IsSafeFolderName(move.name))
                moves.push_back(move);
        }
    }
    return moves;
}

std::vector<AccountMove> CAccountMoves::Load() const
{
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return {};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(bytes);
}

bool CAccountMoves::Save(const std::vector<AccountMove>& moves, std::string* error)
{
    if (moves.empty()) {
        if (::unlink(path_.c_str()) == 0)
            SyncParentDirectory(path_);
        return true;
    }
    AtomicFileWriter writer(path_, 0600);
    if (!writer.Open() || !writer.Write(Format(moves)) || !writer.Commit()) {
        if (error)
            *error = "Cannot write " + path_ + ": " + writer.Error();
        return false;
    }
    return true;
}

bool CAccountMoves::Add(const AccountMove& move, std::string* error)
{
    std::vector<AccountMove> moves = Load();
    moves.push_back(move);
    return Save(moves, error);
}

void CAccountMoves::Drop(const AccountMove& move)
{
    std::vector<AccountMove> moves = Load();
    auto it = std::find(moves.begin(), moves.end(), move);
    if (it == moves.end())
        return;
    moves.erase(it);
    Save(moves, nullptr);
}

void CAccountMoves::Recover(const std::vector<std::string>& listed, const std::string& mailDir)
{
    std::vector<AccountMove> kept;
    for (const AccountMove& m : Load()) {
        const std::string from = mailDir + "/" + m.folder;
        CAccountLock lock;
        if (m.kind == AccountMove::Kind::Remove) {
            // Still listed: the removal never reached its commit point.
            if (Listed(listed, m.folder) || !Exists(from))
                continue;
            if (!MayTouch(from, lock)) {
                kept.push_back(m);
                continue;
            }
            std::error_code ec;
            fs::remove_all(from, ec);
            if (ec)
                kept.push_back(m);
            continue;
        }
        const std::string to = mailDir + "/" + m.name;
        std::string src, dst;
        if (Listed(listed, m.name) && !Listed(listed, m.folder)) {
            src = from; // committed: the files follow the new name
            dst = to;
        } else if (Listed(listed, m.folder) && !Listed(listed, m.name)) {
            src = to; // never committed: the files go back to the old name
            dst = from;
        }
        if (src.empty() || !Exists(src) || Exists(dst))
            continue;
        if (!MayTouch(src, lock) || std::rename(src.c_str(), dst.c_str()) != 0) {
            kept.push_back(m);
            continue;
        }
        SyncParentDirectory(dst);
    }
    Save(kept, nullptr);
}
