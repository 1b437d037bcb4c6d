// Arbitrary PROPFIND answers through the response reader. The first byte sets the piece size
// in which the answer is fed; any piece size must give what one piece gives.
#include "xmlresponsereader.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = data[0] % 16 + 1;
    const std::string answer(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::vector<XmlResponseReader::Response> whole;
    std::string error;
    const bool ok = XmlResponseReader::Parse(answer, whole, &error);
    if (!ok && (error.empty() || !whole.empty()))
        __builtin_trap();

    XmlResponseReader reader;
    for (size_t at = 0; at < answer.size(); at += piece)
        reader.Feed(std::string_view(answer).substr(at, piece));
    std::vector<XmlResponseReader::Response> pieces;
    if (reader.Finish(pieces, &error) != ok || pieces.size() != whole.size())
        __builtin_trap();
    for (size_t i = 0; i < whole.size(); ++i) {
        if (pieces[i].properties != whole[i].properties)
            __builtin_trap();
    }
    return 0;
}
