#include "portalpostlibrary.h"

#include "pluginsink.h"

PortalpostLibrary::PortalpostLibrary(PortalpostFunctions functions) : functions_(functions)
{
}

int PortalpostLibrary::CheckPortalpostMsg(CEngineSink& sink, const std::string& category,
                                          const std::string& account, const std::string& userName,
                                          const std::string& password, int32_t& newCount,
                                          int timeOutSeconds, std::string& failure)
{
    newCount = 0;
    failure.clear();
    PluginSink bridge(&sink);
    int32_t count = 0;
    const int32_t result =
        functions_.checkMsg(bridge.Sink(), category.c_str(), account.c_str(), userName.c_str(),
                            password.c_str(), &count, timeOutSeconds);
    newCount = count < 0 ? 0 : count;
    // The summary's code decides which message the user sees: one we do not know must
    // still read as a failure, never as success.
    const int32_t code =
        result >= PW_WEBMAIL_TIMEOUT && result <= PW_WEBMAIL_FAILED ? result : PW_WEBMAIL_FAILED;
    // Words that came with a success would contradict it.
    if (code != PW_WEBMAIL_SUCCESS)
        failure = bridge.Failure();
    return code;
}
