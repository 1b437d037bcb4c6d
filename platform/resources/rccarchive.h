#pragma once

#include <QByteArray>
#include <map>
#include <string>

// A read-only view of a compiled Qt resource file ("rcc --binary" output), parsed into memory.
//
// We read the format ourselves instead of handing the file to QResource::registerResource():
// that call trusts the offsets inside the file, registers into one process-wide tree that
// cannot be validated first, and cannot tell us *why* a file was refused. Here every offset
// is checked against the file size, the directory walk is bounded (a corrupt file may point a
// directory at its own ancestor), and failures name the first thing that was wrong.
//
// Layout (all integers big-endian), format versions 1 to 3:
//   "qres", version, tree offset, data offset, names offset, [v3: overall flags]
//   tree node: name offset (4), flags (2), then a directory: child count (4), first child
//   index (4); a file: territory (2), language (2), data offset (4); [v2+: mtime (8)]
//   name: length in UTF-16 units (2), hash (4), UTF-16BE characters
//   data: size (4), bytes; zlib-compressed entries begin with the 4-byte uncompressed size
//
// Not thread-safe while Parse() runs; a parsed archive is immutable and may be read from any
// thread.
class RccArchive
{
public:
    // Parses `bytes`. On failure returns false, leaves the archive empty and sets `error` to
    // a short reason ("the tree offset 123 lies beyond the end of the file").
    bool Parse(const QByteArray& bytes, std::string* error);

    // File entries by path without a leading slash ("postwatch/strings/en.tsv").
    const std::map<std::string, QByteArray>& Files() const { return files_; }
    // The bytes of one entry, or nullptr when there is no such file.
    const QByteArray* Find(const std::string& path) const;

private:
    std::map<std::string, QByteArray> files_;
};
