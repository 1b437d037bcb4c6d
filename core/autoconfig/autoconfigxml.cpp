#include "autoconfigxml.h"

#include "emailaddress.h"

#include <QXmlStreamReader>

namespace
{

struct Incoming {
    std::string type;
    std::string hostname;
    std::string port;
    std::string socketType;
    std::string username;
    bool hasUsername = false;
};

bool HasControl(const std::string& text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    return false;
}

bool ToServer(const Incoming& in, const EmailAddress& address, DiscoveredServer* out)
{
    if (in.type == "imap")
        out->kind = "IMAP4";
    else if (in.type == "pop3")
        out->kind = "POP3";
    else
        return false;
    out->host = FillAddressPlaceholders(in.hostname, address);
    if (!ValidHostName(out->host))
        return false;
    // Digits only: "993abc" or " 993" is not a port.
    if (in.port.empty() || in.port.size() > 5 ||
        in.port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out->port = std::stoi(in.port);
    if (out->port < 1 || out->port > 65535)
        return false;
    if (in.socketType == "SSL")
        out->security = "TLS";
    else if (in.socketType == "STARTTLS")
        out->security = "STARTTLS";
    else if (in.socketType == "plain")
        out->security = "None";
    else
        return false;
    out->userName =
        in.hasUsername ? FillAddressPlaceholders(in.username, address) : address.address;
    return !out->userName.empty() && !HasControl(out->userName);
}

} // namespace

bool AutoconfigXml::Read(std::string_view document, const EmailAddress& address,
                         std::vector<DiscoveredServer>* servers, std::string* error)
{
    servers->clear();
    if (document.size() > kMaxBytes) {
        *error = "the configuration document is larger than 1 MiB";
        return false;
    }
    QXmlStreamReader reader(QByteArray(document.data(), static_cast<qsizetype>(document.size())));
    // The path of open elements; an incomingServer counts only at
    // clientConfig/emailProvider/incomingServer.
    std::vector<QString> path;
    Incoming current;
    bool inServer = false;
    std::vector<DiscoveredServer> found;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::DTD) {
            *error = "the configuration document declares a document type";
            return false;
        }
        if (token == QXmlStreamReader::StartElement) {
            path.push_back(reader.name().toString());
            if (path.size() > static_cast<size_t>(kMaxDepth)) {
                *error = "the configuration document is nested too deeply";
                return false;
            }
            if (path.size() == 1 && path[0] != QLatin1String("clientConfig")) {
                *error = "the document is not a mail client configuration";
                return false;
            }
            if (path.size() == 3 && path[1] == QLatin1String("emailProvider") &&
                path[2] == QLatin1String("incomingServer")) {
                inServer = true;
                current = Incoming{};
                current.type =
                    reader.attributes().value(QLatin1String("type")).toString().toStdString();
            } else if (inServer && path.size() == 4) {
                // Text-only children; readElementText consumes the end element too.
                const QString name = path.back();
                const std::string text = reader.readElementText(QXmlStreamReader::SkipChildElements)
                                             .trimmed()
                                             .toStdString();
                path.pop_back();
                if (name == QLatin1String("hostname"))
                    current.hostname = text;
                else if (name == QLatin1String("port"))
                    current.port = text;
                else if (name == QLatin1String("socketType"))
                    current.socketType = text;
                else if (name == QLatin1String("username")) {
                    current.username = text;
                    current.hasUsername = true;
                }
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (inServer && path.size() == 3) {
                inServer = false;
                DiscoveredServer server;
                if (found.size() < kMaxServers && ToServer(current, address, &server))
                    found.push_back(std::move(server));
            }
            if (!path.empty())
                path.pop_back();
        }
    }
    if (reader.hasError()) {
        *error = "the configuration document is not well-formed XML (" +
                 reader.errorString().toStdString() + ")";
        return false;
    }
    *servers = std::move(found);
    return true;
}
