// Feeds arbitrary bytes to the registration reader and the command splitter, both as a whole
// file and as the command it names. Whatever splits must split again the same once quoted.
#include "execcommand.h"
#include "uninstallregistration.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

void CheckSplit(const std::string& command)
{
    std::vector<std::string> args;
    if (!ExecCommand::Split(command, &args))
        return;
    if (args.empty() || args.front().empty())
        std::abort();
    std::string quoted;
    for (const std::string& a : args)
        quoted += (quoted.empty() ? "" : " ") + ExecCommand::Quote(a);
    std::vector<std::string> again;
    if (!ExecCommand::Split(quoted, &again) || again != args)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const UninstallRegistration reg = UninstallRegistration::Parse(bytes);
    if (reg.UninstallString())
        CheckSplit(*reg.UninstallString());
    if (reg.DisplayName() && reg.DisplayName()->size() > bytes.size())
        std::abort();
    CheckSplit(bytes);
    return 0;
}
