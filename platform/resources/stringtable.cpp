#include "stringtable.h"

#include <QString>
#include <QStringDecoder>

namespace
{

bool IsValidUtf8(const std::string& text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    return !decoder.hasError();
}

// Undoes the three escapes of the format. Any other backslash sequence is an error: it is
// almost always a typo that would otherwise show up on screen.
bool Unescape(const std::string& raw, std::string* text, std::string* why)
{
    text->clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            text->push_back(raw[i]);
            continue;
        }
        if (i + 1 == raw.size()) {
            *why = "the text ends with a lone backslash";
            return false;
        }
        switch (raw[++i]) {
        case 'n':
            text->push_back('\n');
            break;
        case 't':
            text->push_back('\t');
            break;
        case '\\':
            text->push_back('\\');
            break;
        default:
            *why = std::string("unknown escape \\") + raw[i];
            return false;
        }
    }
    return true;
}

} // namespace

bool StringTable::Parse(const QByteArray& bytes, const std::string& fileName, std::string* error)
{
    texts_.clear();
    std::map<unsigned, std::string> texts;
    const std::string all = bytes.toStdString();
    std::size_t start = 0;
    int lineNo = 0;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = fileName + " line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos)
            return fail("expected \"number<TAB>text\"");
        const std::string number = line.substr(0, tab);
        if (number.empty() || number.size() > 5 ||
            number.find_first_not_of("0123456789") != std::string::npos)
            return fail("\"" + number + "\" is not a text number");
        const unsigned long id = std::stoul(number);
        if (id == 0 || id > 65535)
            return fail("the text number " + number + " is outside 1..65535");
        const std::string raw = line.substr(tab + 1);
        if (raw.find('\t') != std::string::npos)
            return fail("a literal tab inside the text (write \\t)");
        std::string text;
        std::string why;
        if (!Unescape(raw, &text, &why))
            return fail(why);
        if (!IsValidUtf8(text))
            return fail("the text is not valid UTF-8");
        if (!texts.emplace(unsigned(id), std::move(text)).second)
            return fail("the text number " + number + " appears twice");
    }
    texts_ = std::move(texts);
    return true;
}

const std::string* StringTable::Find(unsigned id) const
{
    const auto it = texts_.find(id);
    return it == texts_.end() ? nullptr : &it->second;
}
