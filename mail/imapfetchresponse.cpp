#include "imapfetchresponse.h"

#include <cctype>
#include <vector>

namespace
{

std::string Upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// Walks the text of one response, handing out literals in the order of their markers.
class Tokens
{
public:
    enum class Type { End, Open, Close, Atom, String, Nil, Bad };

    Tokens(const ImapResponse& response, std::size_t start)
        : text_(response.text), literals_(response.literals), pos_(start)
    {
    }

    Type Next(std::string& value)
    {
        value.clear();
        while (pos_ < text_.size() && text_[pos_] == ' ')
            ++pos_;
        if (pos_ >= text_.size())
            return Type::End;
        char c = text_[pos_];
        if (c == '(') {
            ++pos_;
            return Type::Open;
        }
        if (c == ')') {
            ++pos_;
            return Type::Close;
        }
        if (c == '"') {
            for (++pos_; pos_ < text_.size(); ++pos_) {
                if (text_[pos_] == '"') {
                    ++pos_;
                    return Type::String;
                }
                if (text_[pos_] == '\\' && pos_ + 1 < text_.size())
                    ++pos_;
                value += text_[pos_];
            }
            return Type::Bad;
        }
        if (c == '{') {
            std::size_t close = text_.find('}', pos_);
            if (close == std::string::npos || literal_ >= literals_.size())
                return Type::Bad;
            pos_ = close + 1;
            value = literals_[literal_++];
            return Type::String;
        }
        // An atom; a section "[...]" belongs to it, spaces and parentheses included
        // ("BODY[HEADER.FIELDS (FROM)]"), and so does a partial "<0>".
        std::size_t start = pos_;
        int brackets = 0;
        while (pos_ < text_.size()) {
            char d = text_[pos_];
            if (d == '[')
                ++brackets;
            else if (d == ']' && brackets > 0)
                --brackets;
            else if (brackets == 0 && (d == ' ' || d == '(' || d == ')'))
                break;
            ++pos_;
        }
        value = text_.substr(start, pos_ - start);
        return Upper(value) == "NIL" ? Type::Nil : Type::Atom;
    }

    // Skips the rest of a list whose "(" was just read.
    bool SkipList()
    {
        int depth = 1;
        std::string ignored;
        while (depth > 0) {
            switch (Next(ignored)) {
            case Type::Open:
                ++depth;
                break;
            case Type::Close:
                --depth;
                break;
            case Type::End:
            case Type::Bad:
                return false;
            default:
                break;
            }
        }
        return true;
    }

private:
    const std::string& text_;
    const std::vector<std::string>& literals_;
    std::size_t pos_;
    std::size_t literal_ = 0;
};

std::optional<uint64_t> ParseSize(std::string_view word)
{
    if (word.empty() || word.size() > 18)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

} // namespace

std::optional<uint32_t> ParseImapNumber(std::string_view word)
{
    if (word.empty() || word.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 0xffffffffu)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

bool ImapFetchResponse::Parse(const ImapResponse& response, ImapFetchResponse& out)
{
    out = ImapFetchResponse{};
    const std::string& t = response.text;
    if (t.size() < 2 || t[0] != '*' || t[1] != ' ')
        return false;
    Tokens tokens(response, 2);
    std::string value;
    if (tokens.Next(value) != Tokens::Type::Atom)
        return false;
    std::optional<uint32_t> sequence = ParseImapNumber(value);
    if (!sequence)
        return false;
    out.sequence = *sequence;
    if (tokens.Next(value) != Tokens::Type::Atom || Upper(value) != "FETCH")
        return false;
    if (tokens.Next(value) != Tokens::Type::Open)
        return false;
    for (;;) {
        Tokens::Type type = tokens.Next(value);
        if (type == Tokens::Type::Close)
            return true;
        if (type != Tokens::Type::Atom)
            return false;
        std::string name = Upper(value);
        type = tokens.Next(value);
        if (type == Tokens::Type::Open) {
            if (!tokens.SkipList())
                return false;
            continue;
        }
        if (type != Tokens::Type::Atom && type != Tokens::Type::String && type != Tokens::Type::Nil)
            return false;
        if (name == "UID")
            out.uid = type == Tokens::Type::Atom ? ParseImapNumber(value) : std::nullopt;
        else if (name == "RFC822.SIZE")
            out.size = type == Tokens::Type::Atom ? ParseSize(value) : std::nullopt;
        else if (name == "BODY[HEADER]" || name == "RFC822.HEADER")
            out.header = type == Tokens::Type::Nil ? std::string() : value;
        else if (name.rfind("BODY[TEXT]", 0) == 0)
            out.text = type == Tokens::Type::Nil ? std::string() : value;
    }
}

bool ParseImapCapabilities(std::string_view text, std::unordered_set<std::string>& out)
{
    std::string upper = Upper(text);
    std::size_t start;
    std::size_t end;
    if (upper.rfind("* CAPABILITY ", 0) == 0) {
        start = 13;
        end = upper.size();
    } else {
        std::size_t code = upper.find("[CAPABILITY ");
        if (code == std::string::npos)
            return false;
        start = code + 12;
        end = upper.find(']', start);
        if (end == std::string::npos)
            end = upper.size();
    }
    out.clear();
    std::size_t i = start;
    while (i < end) {
        std::size_t space = upper.find(' ', i);
        if (space == std::string::npos || space > end)
            space = end;
        if (space > i)
            out.insert(upper.substr(i, space - i));
        i = space + 1;
    }
    return true;
}

std::optional<std::string> ImapQuoted(std::string_view value)
{
    std::string out = "\"";
    for (char c : value) {
        if (c < 0x20 || c > 0x7e)
            return std::nullopt;
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}
