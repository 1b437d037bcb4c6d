#include "rccarchive.h"

#include <QString>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

constexpr quint16 kFlagCompressed = 0x01;
constexpr quint16 kFlagDirectory = 0x02;
constexpr quint16 kFlagCompressedZstd = 0x04;

// Bounds of the walk. Our bundle is a few hundred entries two levels deep; anything far
// beyond this is a corrupt file, and the limits keep a hostile one from looping or exhausting
// memory.
constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxNodes = 100000;
constexpr quint32 kMaxUncompressed = 64u * 1024 * 1024;

class Reader
{
public:
    explicit Reader(const QByteArray& bytes)
        : data_(reinterpret_cast<const unsigned char*>(bytes.constData())),
          size_(static_cast<std::uint64_t>(bytes.size()))
    {
    }

    bool Has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= size_ && length <= size_ - offset;
    }
    quint16 U16(std::uint64_t at) const
    {
        return static_cast<quint16>((data_[at] << 8) | data_[at + 1]);
    }
    quint32 U32(std::uint64_t at) const
    {
        return (quint32(data_[at]) << 24) | (quint32(data_[at + 1]) << 16) |
               (quint32(data_[at + 2]) << 8) | quint32(data_[at + 3]);
    }
    const unsigned char* At(std::uint64_t at) const { return data_ + at; }
    std::uint64_t Size() const { return size_; }

private:
    const unsigned char* data_;
    std::uint64_t size_;
};

struct Walk {
    const Reader& in;
    quint32 version;
    std::uint64_t tree;
    std::uint64_t data;
    std::uint64_t names;
    std::uint64_t nodeSize;
    std::size_t visited = 0;
    std::uint64_t storedTotal = 0;
    std::uint64_t outputTotal = 0;
    std::map<std::string, QByteArray>* files;
    std::string* error;

    bool Fail(const std::string& why)
    {
        *error = why;
        return false;
    }

    bool ReadName(quint32 nameOffset, std::string* name)
    {
        const std::uint64_t at = names + nameOffset;
        if (!in.Has(at, 6))
            return Fail("a name offset lies beyond the end of the file");
        const quint16 length = in.U16(at);
        if (!in.Has(at + 6, std::uint64_t(length) * 2))
            return Fail("a name runs past the end of the file");
        QString text(length, Qt::Uninitialized);
        for (quint16 i = 0; i < length; ++i)
            text[i] = QChar(in.U16(at + 6 + std::uint64_t(i) * 2));
        *name = text.toStdString();
        if (name->empty() || name->find('/') != std::string::npos || *name == "." || *name == "..")
            return Fail("an entry has an invalid name");
        return true;
    }

    bool ReadFile(std::uint64_t node, quint16 flags, const std::string& path)
    {
        if (flags & kFlagCompressedZstd)
            return Fail("the entry \"" + path +
                        "\" is zstd-compressed, which this reader does not support "
                        "(build the bundle with --no-compress)");
        const std::uint64_t at = data + in.U32(node + 10);
        if (!in.Has(at, 4))
            return Fail("the data of \"" + path + "\" lies beyond the end of the file");
        const quint32 length = in.U32(at);
        if (!in.Has(at + 4, length))
            return Fail("the data of \"" + path + "\" runs past the end of the file");
        // Entries may share data only in a forged file; counting what we copy keeps such a
        // file from multiplying one large entry into an out-of-memory condition.
        storedTotal += length;
        if (storedTotal > in.Size())
            return Fail("its entries claim more data than the file holds (the file is damaged)");
        QByteArray bytes(reinterpret_cast<const char*>(in.At(at + 4)), qsizetype(length));
        if (flags & kFlagCompressed) {
            // qUncompress() expects exactly this layout: a 4-byte big-endian size, then zlib.
            if (length < 4 || in.U32(at + 4) > kMaxUncompressed)
                return Fail("the compressed entry \"" + path + "\" is damaged");
            bytes = qUncompress(bytes);
            if (bytes.isEmpty() && in.U32(at + 4) != 0)
                return Fail("the compressed entry \"" + path + "\" is damaged");
        }
        outputTotal += std::uint64_t(bytes.size());
        if (outputTotal > 4ull * kMaxUncompressed)
            return Fail("its entries unpack to more than 256 MiB");
        if (files->count(path) != 0)
            return Fail("the entry \"" + path + "\" appears twice");
        files->emplace(path, std::move(bytes));
        return true;
    }

    bool Visit(quint32 index, const std::string& path, int depth)
    {
        if (depth > kMaxDepth)
            return Fail("the folder tree is nested too deeply (the file is damaged)");
        if (++visited > kMaxNodes)
            return Fail("the folder tree has too many entries (the file is damaged)");
        const std::uint64_t node = tree + std::uint64_t(index) * nodeSize;
        if (!in.Has(node, nodeSize))
            return Fail("a folder entry lies beyond the end of the file");
        const quint16 flags = in.U16(node + 4);
        std::string name;
        if (depth > 0 && !ReadName(in.U32(node), &name))
            return false;
        const std::string full = depth == 0     ? std::string()
                                 : path.empty() ? name
                                                : path + "/" + name;
        if (!(flags & kFlagDirectory))
            return depth > 0 ? ReadFile(node, flags, full) : Fail("the root entry is not a folder");
        const quint32 count = in.U32(node + 6);
        const quint32 first = in.U32(node + 10);
        // A directory's children are a contiguous run after it; pointing back at or before
        // the directory itself would loop.
        if (count > 0 && first <= index)
            return Fail("a folder entry points backwards (the file is damaged)");
        if (count > kMaxNodes || std::uint64_t(first) + count > std::uint64_t(UINT32_MAX))
            return Fail("a folder entry has an impossible child count");
        for (quint32 i = 0; i < count; ++i) {
            if (!Visit(first + i, full, depth + 1))
                return false;
        }
        return true;
    }
};

} // namespace

bool RccArchive::Parse(const QByteArray& bytes, std::string* error)
{
    files_.clear();
    std::string dummy;
    std::string* err = error ? error : &dummy;
    const Reader in(bytes);
    if (!in.Has(0, 20) || std::memcmp(in.At(0), "qres", 4) != 0) {
        *err = "it is not a compiled Qt resource file (no \"qres\" header)";
        return false;
    }
    const quint32 version = in.U32(4);
    if (version < 1 || version > 3) {
        *err = "its resource format version " + std::to_string(version) + " is not supported";
        return false;
    }
    if (version >= 3 && !in.Has(0, 24)) {
        *err = "its header is cut short";
        return false;
    }
    Walk walk{.in = in,
              .version = version,
              .tree = in.U32(8),
              .data = in.U32(12),
              .names = in.U32(16),
              .nodeSize = version >= 2 ? 22u : 14u,
              .files = &files_,
              .error = err};
    if (walk.tree >= in.Size() || walk.data >= in.Size() || walk.names >= in.Size()) {
        *err = "an offset in its header lies beyond the end of the file";
        return false;
    }
    if (!walk.Visit(0, std::string(), 0)) {
        files_.clear();
        return false;
    }
    return true;
}

const QByteArray* RccArchive::Find(const std::string& path) const
{
    const auto it = files_.find(path);
    return it == files_.end() ? nullptr : &it->second;
}
