#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Reads the body of a WebDAV 207 Multi-Status answer (RFC 4918 13) to a PROPFIND: every
// DAV:response element in document order, with its DAV:href and the text of the properties
// inside it.
//
// The answer is parsed as XML, namespace-aware: elements are matched by namespace URI and
// local name, whatever prefixes the server declared, and attributes are allowed. A property
// is named here by a fixed prefix for its namespace: "D:" for DAV:, "m:" for
// urn:schemas:mailheader:, "hm:" for urn:schemas:httpmail: ("D:href", "hm:read",
// "m:subject" ...); elements of other namespaces are ignored. Within a response the first
// element of a name counts. Text is returned with XML's character and entity references
// resolved, as UTF-8, without surrounding white space.
//
// A server that writes exactly these prefixes without declaring them (legal for a text
// search, not for XML) is still read: when the namespace-aware parse fails, the answer is
// read again matching the prefixes literally. Anything else that is not well-formed XML, or
// whose document element is not DAV:multistatus (an error page, an empty body), is malformed.
//
// Fed in pieces of any size (a byte at a time gives the same result); Finish parses the whole
// and says whether it was a well-formed document. An answer over kMaxAnswer bytes is refused.
// Not thread-safe; one per answer.
class XmlResponseReader
{
public:
    struct Response {
        std::map<std::string, std::string> properties; // "D:href" included

        // The property's text, empty when absent.
        const std::string& Get(const std::string& name) const;
    };

    XmlResponseReader();
    ~XmlResponseReader();
    XmlResponseReader(const XmlResponseReader&) = delete;
    XmlResponseReader& operator=(const XmlResponseReader&) = delete;

    void Feed(std::string_view bytes);

    // True when the answer was well-formed (responses then holds every response); false
    // with a readable reason in *error.
    bool Finish(std::vector<Response>& responses, std::string* error);

    // Feed + Finish in one call.
    static bool Parse(std::string_view answer, std::vector<Response>& responses,
                      std::string* error);

    static constexpr size_t kMaxAnswer = 16u * 1024u * 1024u;

private:
    std::string bytes_;
    bool tooLarge_ = false;
};
