// Feeds arbitrary bytes to the desktop entry and mimeapps.list readers and the Exec line
// conversion. A command made from an Exec line holds no field code any more, so converting it
// again must leave it as it is.
#include "desktopentry.h"
#include "mimeappslist.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    DesktopEntry entry;
    entry.Parse(bytes);
    entry.HandlesMimeType("x-scheme-handler/mailto");
    entry.IsUsableApplication();

    MimeAppsList list;
    list.Parse(bytes);
    list.Defaults("x-scheme-handler/mailto");

    std::string command = DesktopEntry::CommandFromExec(bytes);
    if (command.size() > 3 * bytes.size() + 2)
        std::abort(); // quoting at most triples a byte
    return 0;
}
