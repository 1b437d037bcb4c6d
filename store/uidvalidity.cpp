#include "uidvalidity.h"

#include "apppaths.h"
#include "atomicfilewriter.h"

#include <fstream>

namespace
{

constexpr std::size_t kMaxFileBytes = 64;

std::string FormatUidValidity(uint32_t validity)
{
    return std::to_string(validity) + "\n";
}

// 0 for anything but one line of 1 to 10 digits holding a number from 1 to 4294967295.
uint32_t ParseUidValidity(const std::string& text)
{
    if (text.size() < 2 || text.size() > 11 || text.back() != '\n')
        return 0;
    uint64_t value = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= UINT32_MAX ? static_cast<uint32_t>(value) : 0;
}

} // namespace

uint32_t ReadUidValidity(const std::string& account)
{
    std::ifstream in(AppPaths::UidValidityFile(account), std::ios::binary);
    if (!in)
        return 0;
    std::string text(kMaxFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return ParseUidValidity(text);
}

bool WriteUidValidity(const std::string& account, uint32_t validity, std::string* error)
{
    AtomicFileWriter writer(AppPaths::UidValidityFile(account), 0600);
    if (writer.Open() && writer.Write(FormatUidValidity(validity)) && writer.Commit())
        return true;
    if (error)
        *error = writer.Error();
    writer.Discard();
    return false;
}
