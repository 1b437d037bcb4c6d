#pragma once

#include <functional>
#include <memory>
#include <optional>

class CAccountManager;
class CEngineSink;
class CEngineState;
class ExchangePlugin;
class ProtocolCheck;
class WebMailPlugin;

// What a check thread uses. Held by shared pointers so that a check thread the engine had
// to abandon at exit never reaches freed memory.
//
// A missing protocol check or plug-in makes that kind's check end at once (Check finished,
// no summary), as a check that cannot start does.
struct CheckServices {
    std::shared_ptr<CAccountManager> accounts;
    std::shared_ptr<CEngineState> state;
    std::shared_ptr<CEngineSink> sink;
    std::shared_ptr<ProtocolCheck> pop3;
    std::shared_ptr<ProtocolCheck> imap4;
    std::shared_ptr<WebMailPlugin> webMail;
    std::shared_ptr<ExchangePlugin> exchange;
    // The idle time-out in seconds from the Network settings; nullopt when the settings
    // cannot be read (the check then ends without a summary). Empty: read the settings.
    std::function<std::optional<int>()> readTimeOut;
    // Called on the check's thread right after it reported Check finished (may be empty).
    std::function<void()> checkEnded;
};
