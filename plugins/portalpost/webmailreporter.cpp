#include "webmailreporter.h"

#include "apppaths.h"
#include "filterrules.h"
#include "htmlentities.h"
#include "resourcelibrary.h"

#include <chrono>
#include <unordered_set>

namespace
{

// The filter keywords are texts of the resource bundle. The library keeps its own copy of
// the bundle reader, so it loads the bundle itself the first time a check needs it.
FilterKeywords LoadKeywords()
{
    if (!ResourceLibrary::IsLoaded()) {
        std::string ignored;
        ResourceLibrary::LoadDefault(&ignored); // without it no rule applies: keep
    }
    return FilterKeywords::Load();
}

} // namespace

WebMailReporter::WebMailReporter(const PwSink& sink, std::string account)
    : sink_(sink), account_(std::move(account))
{
}

int WebMailReporter::Open()
{
    const std::string path = AppPaths::AccountDir(account_) + "/MIDS";
    // A second check of the same account waits a moment, then gives up as the file's
    // single reader-writer.
    switch (mids_.Open(path, std::chrono::milliseconds(500), &error_)) {
    case CMidsFile::OpenResult::kOpen:
        return PW_WEBMAIL_SUCCESS;
    case CMidsFile::OpenResult::kBusy:
    case CMidsFile::OpenResult::kFailed:
        break;
    }
    return PW_WEBMAIL_FAILED;
}

WebMailReporter::Decision WebMailReporter::Consider(const std::string& id, std::string& subject,
                                                    std::string& from)
{
    if (mids_.Contains(id))
        return Decision::kKnown;
    // Recorded before the rules run, so whatever they decide the message is handled once.
    if (!mids_.Append(id, &error_))
        return Decision::kFailed;
    subject = DecodeHtmlEntities(subject);
    from = DecodeHtmlEntities(from);
    switch (EvaluateFilters(subject, from, LoadKeywords(), FilterManagerPath())) {
    case kFilterDelete:
        return Decision::kDelete;
    case kFilterHide:
        return Decision::kHide;
    default:
        return Decision::kReport;
    }
}

int WebMailReporter::Report(const std::string& id, const Message& message,
                            const std::string& subject, const std::string& from)
{
    const char* fields[8] = {message.url.c_str(),
                             subject.c_str(),
                             message.size.c_str(),
                             message.date.c_str(),
                             from.c_str(),
                             account_.c_str(),
                             message.reserved.c_str(),
                             message.attachment.c_str()};
    if (!sink_.deliver)
        return PW_SINK_FRONT_GONE;
    const int answer = sink_.deliver(sink_.ctx, PW_RECORD_WEBMAIL, fields, 8);
    if (answer == PW_SINK_HANDLED)
        ++count_;
    else
        mids_.RemoveLast(id, &error_); // not stored (or no front to store it): it must come
                                       // again at the next check
    return answer;
}

bool WebMailReporter::TakeBack(const std::string& id)
{
    return mids_.Contains(id) && mids_.RemoveLast(id, &error_);
}

bool WebMailReporter::RecordNew(const std::vector<std::string>& ids, std::vector<bool>& isNew)
{
    isNew.assign(ids.size(), false);
    std::vector<std::string> fresh;
    std::unordered_set<std::string> seen;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (mids_.Contains(ids[i]) || !seen.insert(ids[i]).second)
            continue;
        isNew[i] = true;
        fresh.push_back(ids[i]);
    }
    // Recorded before the rules run, so whatever they decide each message is handled once.
    if (!fresh.empty() && !mids_.Append(fresh, &error_)) {
        isNew.assign(ids.size(), false);
        return false;
    }
    return true;
}

WebMailReporter::Decision WebMailReporter::Filter(std::string& subject, std::string& from)
{
    subject = DecodeHtmlEntities(subject);
    from = DecodeHtmlEntities(from);
    switch (EvaluateFilters(subject, from, LoadKeywords(), FilterManagerPath())) {
    case kFilterDelete:
        return Decision::kDelete;
    case kFilterHide:
        return Decision::kHide;
    default:
        return Decision::kReport;
    }
}
