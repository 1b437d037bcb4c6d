// Feeds arbitrary bytes to the test that keeps QSettings from parsing a settings file into
// objects, then lets QSettings parse every file the test passes: each value must come back
// as text (a string, a list of them, bytes, or nothing). A file the test misses aborts here
// or fails the check.
#include "iniobjectvalue.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QVariant>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (IniHoldsObjectValue(bytes))
        return 0;
    static QTemporaryDir dir;
    static int n = 0;
    // A new name each time: QSettings keeps a parsed copy of every file per process.
    const QString path = dir.filePath(QString::number(++n) + ".conf");
    {
        std::ofstream out(path.toStdString(), std::ios::binary);
        out << bytes;
    }
    {
        QSettings s(path, QSettings::IniFormat);
        for (const QString& key : s.allKeys()) {
            const int type = s.value(key).typeId();
            if (type != QMetaType::QString && type != QMetaType::QStringList &&
                type != QMetaType::QByteArray && type != QMetaType::UnknownType &&
                type != QMetaType::QVariantList && type != QMetaType::QRect &&
                type != QMetaType::QSize && type != QMetaType::QPoint)
                std::abort();
        }
    }
    std::remove(path.toStdString().c_str());
    return 0;
}
