#include "xmlresponsereader.h"

#include <QXmlStreamReader>

namespace
{

// The fixed prefix by which a namespace's properties are named, or null for namespaces we
// do not read.
const char* PrefixOf(QStringView namespaceUri)
{
    if (namespaceUri == u"DAV:")
        return "D:";
    if (namespaceUri == u"urn:schemas:mailheader:")
        return "m:";
    if (namespaceUri == u"urn:schemas:httpmail:")
        return "hm:";
    return nullptr;
}

// The element's name as this reader names it, or empty.
std::string NameOf(const QXmlStreamReader& xml, bool namespaces)
{
    if (namespaces) {
        const char* prefix = PrefixOf(xml.namespaceUri());
        if (!prefix)
            return {};
        return prefix + xml.name().toString().toStdString();
    }
    // Undeclared prefixes: the qualified name as written, when its prefix is one of ours.
    const std::string q = xml.qualifiedName().toString().toStdString();
    if (q.rfind("D:", 0) == 0 || q.rfind("m:", 0) == 0 || q.rfind("hm:", 0) == 0)
        return q;
    return {};
}

std::string Trimmed(const QString& text)
{
    return text.trimmed().toStdString();
}

bool Read(const std::string& bytes, bool namespaces,
          std::vector<XmlResponseReader::Response>& responses, std::string* error)
{
    responses.clear();
    QXmlStreamReader xml(
        QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
    xml.setNamespaceProcessing(namespaces);
    int responseDepth = -1; // depth of the open DAV:response, or -1
    int depth = 0;
    std::string property; // the property element being read (its text collects below)
    int propertyDepth = -1;
    QString text;
    bool multistatus = false; // the document element is DAV:multistatus
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            const std::string name = NameOf(xml, namespaces);
            if (depth == 1)
                multistatus = name == "D:multistatus";
            if (responseDepth < 0) {
                if (name == "D:response") {
                    responseDepth = depth;
                    responses.emplace_back();
                }
            } else if (propertyDepth < 0 && !name.empty() && name != "D:propstat" &&
                       name != "D:prop" && name != "D:status") {
                property = name;
                propertyDepth = depth;
                text.clear();
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (propertyDepth == depth) {
                responses.back().properties.emplace(property, Trimmed(text));
                propertyDepth = -1;
            }
            if (responseDepth == depth)
                responseDepth = -1;
            --depth;
        } else if (token == QXmlStreamReader::Characters) {
            // Only text directly or indirectly inside a property counts; a nested element's
            // text joins its property's (a server may wrap a value).
            if (propertyDepth >= 0 && text.size() < (1 << 20))
                text += xml.text();
        }
    }
    if (xml.hasError()) {
        if (error)
            *error = "the server's answer is not well-formed XML (line " +
                     std::to_string(xml.lineNumber()) + ": " + xml.errorString().toStdString() +
                     ")";
        responses.clear();
        return false;
    }
    // An error page or an empty body is no list that happens to be empty: read as one, a
    // server's failure would pass for a folder without new mail.
    if (!multistatus) {
        if (error)
            *error = "the server's answer is not a WebDAV multistatus";
        responses.clear();
        return false;
    }
    return true;
}

} // namespace

const std::string& XmlResponseReader::Response::Get(const std::string& name) const
{
    static const std::string empty;
    const auto it = properties.find(name);
    return it == properties.end() ? empty : it->second;
}

XmlResponseReader::XmlResponseReader() = default;
XmlResponseReader::~XmlResponseReader() = default;

void XmlResponseReader::Feed(std::string_view bytes)
{
    if (tooLarge_)
        return;
    if (bytes_.size() + bytes.size() > kMaxAnswer) {
        tooLarge_ = true;
        bytes_.clear();
        return;
    }
    bytes_.append(bytes);
}

bool XmlResponseReader::Finish(std::vector<Response>& responses, std::string* error)
{
    responses.clear();
    if (tooLarge_) {
        if (error)
            *error = "the server's answer is larger than 16 MiB";
        return false;
    }
    if (Read(bytes_, true, responses, error))
        return true;
    // A server that writes our prefixes without declaring them is read by its prefixes.
    std::string ignored;
    return Read(bytes_, false, responses, &ignored);
}

bool XmlResponseReader::Parse(std::string_view answer, std::vector<Response>& responses,
                              std::string* error)
{
    XmlResponseReader reader;
    reader.Feed(answer);
    return reader.Finish(responses, error);
}
