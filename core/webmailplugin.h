#pragma once

#include <cstdint>
#include <string>

class CEngineSink;

// The web-mail plug-in's check, as the check thread calls it. It delivers each new
// message with sink.SendWebMailMessage and counts it in `newCount`.
// Result: 1 time-out, 2 log-in refused, 3 other HTTP error, 4 success, 5 other failure.
// `failure` gets the plug-in's own words for a failing result (printable, at most 1 KiB;
// empty when it gave none, and always after success).
// Called on the check's own thread.
class WebMailPlugin
{
public:
    virtual ~WebMailPlugin() = default;
    virtual int CheckPortalpostMsg(CEngineSink& sink, const std::string& category,
                                   const std::string& account, const std::string& userName,
                                   const std::string& password, int32_t& newCount,
                                   int timeOutSeconds, std::string& failure) = 0;
};
