#include "registryname.h"

#include <QString>

namespace RegistryName
{

std::string Escape(const std::string& raw)
{
    std::string out;
    out.reserve(raw.size());
    for (char c : raw) {
        if (c == '%')
            out += "%25";
        else if (c == '/')
            out += "%2F";
        else if (c == '\\')
            out += "%5C";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& stored)
{
    std::string out;
    out.reserve(stored.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '%' && i + 2 < stored.size()) {
            char hi = stored[i + 1];
            char lo = static_cast<char>(stored[i + 2] & ~0x20); // upper-case a hex letter
            if (hi == '2' && stored[i + 2] == '5') {
                out += '%';
                i += 2;
                continue;
            }
            if (hi == '2' && lo == 'F') {
                out += '/';
                i += 2;
                continue;
            }
            if (hi == '5' && lo == 'C') {
                out += '\\';
                i += 2;
                continue;
            }
        }
        out += stored[i];
    }
    return out;
}

bool Equal(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

bool Less(const std::string& a, const std::string& b)
{
    int c = QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

} // namespace RegistryName
