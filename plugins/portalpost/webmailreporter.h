#pragma once

#include "midsfile.h"
#include "postwatch_plugin.h"

#include <cstdint>
#include <string>
#include <vector>

// What both web-mail clients do with each unread message they find on the server: the
// account's MIDS bookkeeping, the decoding of subject and sender, the user's filter rules and
// the report through the sink. One per check, on the check's thread.
class WebMailReporter
{
public:
    // What to do with one unread message.
    enum class Decision {
        kKnown,  // handled at an earlier check: neither report, filter nor delete
        kReport, // new: call Report
        kDelete, // new, a rule deletes it on the server: do not report
        kHide,   // new, a rule hides it: neither report nor delete
        kFailed, // its identifier cannot be recorded (Error() says why): end the check with 5
    };

    // Record fields 0, 2, 3, 6, 7 as the client found them; the reporter adds 1, 4 (as
    // Consider decoded them) and 5 (the account).
    struct Message {
        std::string url;
        std::string size;
        std::string date;
        std::string reserved = " ";
        std::string attachment = "No";
    };

    WebMailReporter(const PwSink& sink, std::string account);

    // Opens the account's MIDS file (in the account folder of the data folder).
    // PW_WEBMAIL_SUCCESS, or PW_WEBMAIL_FAILED with the reason in Error() (no file, busy).
    int Open();

    // Looks `id` up; a new one is recorded before anything else happens to it. Decodes the
    // HTML entities of `subject` and `from` in place (the HTTPMail client decodes encoded
    // words first), then applies the filter rules to them.
    Decision Consider(const std::string& id, std::string& subject, std::string& from);

    // Sends the record of the message `id` Consider answered kReport for, with the subject
    // and sender it decoded. Returns the sink's answer (PW_SINK_*): the count rises on
    // HANDLED; on any other answer (NOT_STORED, FRONT_GONE) the identifier is taken back out
    // of the file so the message comes again at the next check, and the client should end
    // the check.
    int Report(const std::string& id, const Message& message, const std::string& subject,
               const std::string& from);

    // Consider in two steps, for a client that lists many messages at once: RecordNew looks
    // every identifier up and records the new ones in one write and one flush to the disk
    // (an identifier twice in `ids` is new once); it answers, per identifier, whether it was
    // new, or false (with Error()) when they could not be recorded: end the check with 5.
    // Filter then decodes and filters one message RecordNew found new, as Consider does
    // (kReport, kDelete or kHide).
    bool RecordNew(const std::vector<std::string>& ids, std::vector<bool>& isNew);
    Decision Filter(std::string& subject, std::string& from);

    // Takes back the identifier Consider recorded last when it is `id`, for a message the
    // check ends before reporting (it must come again at the next check). Callers take back
    // in the reverse order of Consider. False when `id` is not the last record.
    bool TakeBack(const std::string& id);

    int32_t Count() const { return count_; }
    const std::string& Error() const { return error_; }

private:
    PwSink sink_;
    std::string account_;
    CMidsFile mids_;
    int32_t count_ = 0;
    std::string error_;
};
