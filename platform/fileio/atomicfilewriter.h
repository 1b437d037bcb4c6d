#pragma once

#include <string>
#include <sys/types.h>

// Replaces a file as a whole, so that a crash at any moment leaves either the old file
// or the new one, never a mix: the new content goes to a temporary file in the same
// folder, which is flushed to disk, renamed over the target, and the folder is flushed
// so that the rename itself survives a power cut.
//
// Not thread-safe; one writer per target at a time (callers hold their own locks).
// The destructor removes the temporary file when Commit() was not reached.
class AtomicFileWriter
{
public:
    explicit AtomicFileWriter(std::string path, mode_t mode = 0600);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool Open();
    bool Write(const void* data, size_t size);
    bool Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
    // Copies `size` bytes from `fromFd` at `offset` into the new file.
    bool CopyFrom(int fromFd, off_t offset, off_t size);
    bool Commit();
    void Discard();

    int Fd() const { return fd_; }
    // Human-readable reason of the last failure ("write ...: No space left on device").
    const std::string& Error() const { return error_; }

private:
    bool Fail(const std::string& what);

    std::string path_;
    std::string tempPath_;
    mode_t mode_;
    int fd_ = -1;
    std::string error_;
};

// Flushes the folder that holds `path`, making a rename or a new file in it durable.
bool SyncParentDirectory(const std::string& path);
