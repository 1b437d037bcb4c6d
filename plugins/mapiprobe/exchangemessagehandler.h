#pragma once

#include "mailprovider.h"
#include "midsfile.h"
#include "postwatch_plugin.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

// What the log-on scan and the watch do with one unread message: look it up in the account's
// MIDs file, record it there before anything else happens to it, read it, run the user's
// filter rules on its subject and sender name, and report it (a PW_RECORD_EXCHANGE record),
// move it to the trash, or keep it hidden.
//
// One per log-on; it keeps the account's MIDs file open (and so locked) until it is
// destroyed. Handle may be called from the scanning thread and the provider's watch thread at
// once: calls are handled one at a time, so a message seen by both is reported once and the
// record a sink refuses is still the last one when it is taken back.
class ExchangeMessageHandler
{
public:
    enum class Outcome {
        kReported,   // delivered and filed by the sink
        kPassedOver, // known already, hidden by a rule, or gone before it could be read
        kDeleted,    // a rule deletes it: moved to the store's trash (or tried to)
        kNotStored,  // the sink could not file it: taken back out of the MIDs file, so it
                     // comes again; the caller stops reporting
        kFrontGone,  // the sink answered that the program is going: stop reporting
    };

    // Where a message is and what the record calls its folder and store.
    struct Where {
        std::string storeId;
        std::string storeName;
        std::string folderId;
        std::string folderName;
        std::string entryId;
    };

    // `bodyLimit` is the largest body in bytes with its terminator, as LogonExchange takes it.
    ExchangeMessageHandler(MailProvider& provider, const PwSink& sink, std::string account,
                           uint32_t bodyLimit);

    // Opens "MIDs" in the account folder. When it cannot be opened (no folder, unreadable)
    // messages are treated as new and reported, each once in this log-on, and each later
    // Handle tries again. kBusy: another process holds it, that is, watches this account and
    // reports its mail; the caller must not report the same messages a second time. The
    // reason goes to *why.
    CMidsFile::OpenResult OpenMids(std::string* why);

    // `burst`: one of many in a row (the log-on's scan); its record reaches the disk at the
    // next Flush (a group commit, see CMidsFile::AppendUnflushed), else at once.
    Outcome Handle(const Where& where, bool burst = false);
    // Makes the records of a burst durable.
    void Flush();

    // The record fields of a message (exposed for the tests of their formats).
    static std::string SizeText(uint64_t bytes);   // "%.2f K" of bytes / 1024
    static std::string DateText(std::time_t when); // local "YYYY-MM-DD hh:mm:ss"
    static std::string MidsPath(const std::string& account);

private:
    // true: new (and recorded, when the file is usable); false: handled before.
    bool RecordIfNew(const std::string& entryId, bool burst, bool& recorded);
    // Undoes RecordIfNew for a message that must come again.
    void TakeBack(const std::string& entryId, bool recorded);

    MailProvider& provider_;
    PwSink sink_;
    std::string account_;
    uint32_t bodyLimit_;
    std::mutex mutex_; // one message at a time; guards mids_
    CMidsFile mids_;
    // Handled while the file could not be used: the scan and the watch may both see a
    // message, and without the file only this keeps it to one report.
    std::unordered_set<std::string> unfiled_;
};
