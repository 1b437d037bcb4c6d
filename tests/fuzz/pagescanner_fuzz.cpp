// Hostile provider pages through every search of the page-reading web client, and their texts
// through the entity decoder. Besides not crashing or hanging: every page is also scanned cut
// short at a point the input chooses (a page truncated mid-tag), links begin with what was
// asked for, at most ten distinct links come back, and decoding never makes a text longer.
#include "htmlentities.h"
#include "pagescanner.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace
{

void Require(bool ok)
{
    if (!ok)
        std::abort();
}

void ScanList(std::string_view form)
{
    const PageScanner list(form);
    for (const auto& messages : {list.RowMessages(), list.TableMessages()}) {
        for (const ListedMessage& m : messages) {
            Require(!m.id.empty());
            Require(m.link.empty() || m.link.rfind("/ym/ShowLetter?MsgId=", 0) == 0);
            Require(DecodeHtmlEntities(m.subject).size() <= m.subject.size());
            Require(DecodeHtmlEntities(m.sender).size() <= m.sender.size());
        }
    }
}

void Scan(std::string_view page)
{
    const PageScanner scanner(page);
    for (std::string_view name : {"login_form", "messageList"}) {
        const auto form = scanner.Form(name);
        if (!form)
            continue;
        const auto tag = PageScanner::StartTag(*form);
        if (tag)
            (void)PageScanner::Attribute(*tag, "action");
        size_t pos = 0;
        const PageScanner inner(*form);
        while (const auto input = inner.NextInput(pos, ".crumb"))
            (void)PageScanner::Attribute(*input, "value");
        ScanList(*form);
    }
    ScanList(page);
    for (std::string_view prefix : {"/ym/ShowFolder?YY=", "/ym/ShowFolder?Search=&Npos="}) {
        const auto links = scanner.DistinctLinks(prefix);
        Require(links.size() <= PageScanner::kMaxDistinctLinks);
        for (const std::string& link : links) {
            Require(link.rfind(prefix, 0) == 0);
            (void)scanner.CountFollows(link, prefix);
        }
    }
    (void)PageScanner::CellText(page);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    Scan(page);
    if (size > 0)
        Scan(page.substr(0, data[0] % (size + 1)));
    Require(DecodeHtmlEntities(page).size() <= size);
    return 0;
}
