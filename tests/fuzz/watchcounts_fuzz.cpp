// The counts another running program streams to a --watch (a line of JSON from another
// process), and the lines --watch prints for any account name: whatever the bytes, reading
// never crashes, and every JSON line printed parses.
#include "unreadcountfeed.h"
#include "watchformat.h"

#include <QJsonDocument>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    UnreadCounts counts;
    UnreadCountFeed::FromStreamLine(bytes, counts);

    const UnreadCounts named{1, {{std::string(bytes.constData(), size), 1}}};
    for (WatchFormat::Kind kind :
         {WatchFormat::Kind::Json, WatchFormat::Kind::Waybar, WatchFormat::Kind::I3bar}) {
        const std::string line = WatchFormat::Line(kind, named, true);
        QJsonParseError error{};
        QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        if (error.error != QJsonParseError::NoError || line.find('\n') != std::string::npos)
            std::abort();
    }
    return 0;
}
