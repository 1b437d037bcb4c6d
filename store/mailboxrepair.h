#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Rebuilds a Message.box that Open refuses (a damaged record, stray bytes) from every record
// that still validates, so that a damaged store is not a dead end.
//
// Records always start 64-byte aligned after the 2048-byte header, so a scan that meets a
// damaged record looks for the next whole one at each following 64-byte step. A record is
// taken when its size rule holds, it lies inside the file, its Read item is 4 bytes, its
// MessageId is a 36-character identifier and its MailType is one of the four kinds; a
// record whose MessageId was already taken is left out.
//
// The damaged file is kept beside the new one as "Message.box.damaged-<YYYYMMDD-HHMMSS>"
// (a second name of the same file: no copy, no space needed), then the rebuilt store
// replaces it atomically (AtomicFileWriter). A store that Open accepts is left as it is
// (Open's own mending of a torn tail applies). The caller holds the account's lock.
class CMailBoxRepair
{
public:
    enum class Outcome {
        NothingToDo, // the store opens: left as it is
        Rebuilt,     // rebuilt; `kept` records, the damaged file kept as `damagedCopy`
        Failed,      // nothing changed; `error` says why
    };
    struct Result {
        Outcome outcome = Outcome::Failed;
        uint32_t kept = 0;
        uint64_t droppedBytes = 0; // bytes of the old file no kept record accounts for
        std::string damagedCopy;
        std::string error;
        // A sentence for the user.
        std::string Describe(const std::string& path) const;
    };

    static Result Repair(const std::string& path, std::time_t now);
};
