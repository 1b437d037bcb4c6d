#include "tokenresponse.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace
{

constexpr long long kDefaultLifetime = 3600;
constexpr long long kMaxLifetime = 365LL * 24 * 3600;

std::string Printable(const QString& text)
{
    std::string out;
    for (QChar c : text.left(200))
        out += (c.unicode() >= 0x20 && c.unicode() < 0x7f) ? static_cast<char>(c.unicode()) : '?';
    return out;
}

// A token is sent on a protocol line: RFC 6750 section 2.1's b64token characters only.
bool UsableToken(const std::string& token)
{
    if (token.empty() || token.size() > 16384)
        return false;
    for (unsigned char c : token)
        if (c <= 0x20 || c >= 0x7f)
            return false;
    return true;
}

} // namespace

TokenResponse TokenResponse::Parse(std::string_view body)
{
    TokenResponse r;
    if (body.size() > kMaxBytes) {
        r.error = "the token answer is too large";
        return r;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(body.data(), static_cast<qsizetype>(body.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        r.error = "the token answer is not a JSON object";
        return r;
    }
    const QJsonObject object = document.object();
    if (object.contains("error")) {
        r.error = Printable(object.value("error").toString());
        if (r.error.empty())
            r.error = "unknown error";
        r.errorDescription = Printable(object.value("error_description").toString());
        return r;
    }
    const std::string access = object.value("access_token").toString().toStdString();
    if (!UsableToken(access)) {
        r.error = "the token answer holds no usable access token";
        return r;
    }
    if (object.value("token_type").toString().compare("Bearer", Qt::CaseInsensitive) != 0) {
        r.error = "the token answer is not for a bearer token";
        return r;
    }
    const std::string refresh = object.value("refresh_token").toString().toStdString();
    if (!refresh.empty() && !UsableToken(refresh)) {
        r.error = "the token answer holds an unusable refresh token";
        return r;
    }
    const QJsonValue expires = object.value("expires_in");
    double seconds = kDefaultLifetime;
    if (expires.isDouble())
        seconds = expires.toDouble();
    else if (expires.isString())
        seconds = expires.toString().toDouble();
    if (!(seconds >= 0)) // NaN as well
        seconds = 0;
    r.expiresIn = seconds > kMaxLifetime ? kMaxLifetime : static_cast<long long>(seconds);
    r.accessToken = access;
    r.refreshToken = refresh;
    r.ok = true;
    return r;
}
