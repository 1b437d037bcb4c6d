#include "neterror.h"

#include <utility>

namespace
{
thread_local NetError g_lastError;
constexpr std::size_t kQuoteLimit = 200;
} // namespace

bool SetNetError(int code, NetCategory category, std::string message)
{
    g_lastError.code = code;
    g_lastError.category = category;
    g_lastError.message = std::move(message);
    g_lastError.certificate = PeerCertificate{};
    return false;
}

bool SetCertificateError(int code, std::string message, PeerCertificate certificate)
{
    SetNetError(code, NetCategory::Tls, std::move(message));
    g_lastError.certificate = std::move(certificate);
    return false;
}

void ClearNetError()
{
    g_lastError = NetError{};
}

const NetError& LastNetError()
{
    return g_lastError;
}

int LastNetErrorCode()
{
    return g_lastError.code;
}

std::string QuoteServerText(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r' || c == '\n')
            break;
        if (out.size() >= kQuoteLimit) {
            out += "...";
            break;
        }
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    }
    return out;
}
