#include "exchangemessagehandler.h"

#include "apppaths.h"
#include "filterrules.h"
#include "resourcelibrary.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace
{

// The filter keywords are texts of the resource bundle. The library keeps its own copy of
// the bundle reader, so it loads the bundle itself the first time a message needs it.
FilterKeywords LoadKeywords()
{
    if (!ResourceLibrary::IsLoaded()) {
        std::string ignored;
        ResourceLibrary::LoadDefault(&ignored); // without it no rule applies: keep
    }
    return FilterKeywords::Load();
}

} // namespace

ExchangeMessageHandler::ExchangeMessageHandler(MailProvider& provider, const PwSink& sink,
                                               std::string account, uint32_t bodyLimit)
    : provider_(provider), sink_(sink), account_(std::move(account)), bodyLimit_(bodyLimit)
{
}

std::string ExchangeMessageHandler::MidsPath(const std::string& account)
{
    return AppPaths::AccountDir(account) + "/MIDs";
}

CMidsFile::OpenResult ExchangeMessageHandler::OpenMids(std::string* why)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // A check that holds it only for a moment lets go within this wait.
    return mids_.Open(MidsPath(account_), std::chrono::milliseconds(500), why);
}

std::string ExchangeMessageHandler::SizeText(uint64_t bytes)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f K", static_cast<double>(bytes) / 1024.0);
    return text;
}

std::string ExchangeMessageHandler::DateText(std::time_t when)
{
    std::tm local{};
    if (!::localtime_r(&when, &local))
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

bool ExchangeMessageHandler::RecordIfNew(const std::string& entryId, bool burst, bool& recorded)
{
    recorded = false;
    if (!mids_.IsOpen() && mids_.Open(MidsPath(account_), std::chrono::milliseconds(0)) ==
                               CMidsFile::OpenResult::kBusy) {
        // Another process took the file meanwhile: it watches this account and reports
        // this message; a second report here would file it twice.
        return false;
    }
    if (!mids_.IsOpen()) {
        // No file: every message is new, none is silenced, and none reported twice now.
        return unfiled_.insert(entryId).second;
    }
    // A record matches only an identifier of its own length (CMidsFile::Contains), so a
    // short or empty record cannot swallow the messages whose identifiers it begins.
    if (mids_.Contains(entryId))
        return false;
    // Recorded before the rules run, so whatever they decide the message is handled once.
    // An identifier the file cannot take (empty, over-long) is reported without a record:
    // better once more at the next log-on than never.
    recorded = burst ? mids_.AppendUnflushed(entryId) : mids_.Append(entryId);
    return true;
}

void ExchangeMessageHandler::TakeBack(const std::string& entryId, bool recorded)
{
    if (recorded)
        mids_.RemoveLast(entryId);
    else
        unfiled_.erase(entryId);
}

void ExchangeMessageHandler::Flush()
{
    std::lock_guard<std::mutex> lock(mutex_);
    mids_.Flush();
}

ExchangeMessageHandler::Outcome ExchangeMessageHandler::Handle(const Where& where, bool burst)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bool recorded = false;
    if (!RecordIfNew(where.entryId, burst, recorded))
        return Outcome::kPassedOver;
    auto takeBack = [&] { TakeBack(where.entryId, recorded); };

    ProviderMessageDetails details;
    // The terminator is part of the limit: at most limit - 1 bytes of text.
    const uint32_t bodyBytes = bodyLimit_ > 0 ? bodyLimit_ - 1 : 0;
    if (!provider_.Details(where.folderId, where.entryId, bodyBytes, details)) {
        // Gone between the listing and now (read elsewhere, moved, deleted). Should it turn
        // up again it is new then.
        takeBack();
        return Outcome::kPassedOver;
    }
    // details.readProblem: a header or body that could not be read whole still gives a
    // report of what was read, rather than a message recorded as seen and never shown.

    switch (
        EvaluateFilters(details.subject, details.senderName, LoadKeywords(), FilterManagerPath())) {
    case kFilterDelete:
        provider_.Delete(where.storeId, where.folderId, where.entryId, nullptr);
        return Outcome::kDeleted;
    case kFilterHide:
        return Outcome::kPassedOver;
    default:
        break;
    }

    const std::string size = SizeText(details.size);
    const std::string date = DateText(details.deliveryTime);
    std::string body = details.hasBody ? details.body : std::string();
    if (body.size() > bodyBytes) {
        // A provider that gave more than asked is cut here, at a UTF-8 character boundary.
        size_t cut = bodyBytes;
        while (cut > 0 && (static_cast<unsigned char>(body[cut]) & 0xC0) == 0x80)
            --cut;
        body.resize(cut);
    }
    const char* fields[9] = {account_.c_str(),
                             details.subject.c_str(),
                             body.c_str(),
                             size.c_str(),
                             details.senderName.c_str(),
                             date.c_str(),
                             where.folderName.c_str(),
                             where.storeName.c_str(),
                             details.hasAttachment ? "Yes" : "No"};
    if (!sink_.deliver) {
        takeBack();
        return Outcome::kFrontGone;
    }
    switch (sink_.deliver(sink_.ctx, PW_RECORD_EXCHANGE, fields, 9)) {
    case PW_SINK_HANDLED:
        return Outcome::kReported;
    case PW_SINK_NOT_STORED:
        takeBack(); // it must come again
        return Outcome::kNotStored;
    default:
        // The program is going: this message was not filed, so it comes at the next log-on.
        takeBack();
        return Outcome::kFrontGone;
    }
}
