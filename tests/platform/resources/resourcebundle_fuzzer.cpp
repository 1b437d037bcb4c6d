// Feeds arbitrary bytes through everything ResourceLibrary::Load does after reading the file.
#include "rccarchive.h"
#include "resourcebundle.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    RccArchive archive;
    std::string error;
    if (archive.Parse(bytes, &error))
        (void)ResourceBundle::Build(archive, &error);
    return 0;
}
