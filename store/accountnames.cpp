#include "accountnames.h"

#include "dialoguebox.h"
#include "resourcelibrary.h"

#include <cstring>

namespace
{

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

AccountNames::Problem AccountNames::Check(std::string& text)
{
    static const char kForbidden[] = "\\/:*?\"<>|\r\n";
    bool bad =
        text.find_first_of(kForbidden) != std::string::npos || text.find('\0') != std::string::npos;
    if (!bad) {
        size_t first = 0;
        size_t last = text.size();
        while (first < last && IsBlank(text[first]))
            ++first;
        while (last > first && IsBlank(text[last - 1]))
            --last;
        text = text.substr(first, last - first);
        if (text.empty())
            return Problem::Blank;
        bad = text == "." || text == "..";
    }
    if (bad) {
        text.clear();
        return Problem::ForbiddenCharacter;
    }
    return Problem::None;
}

int AccountNames::ValidateName(std::string& text, void* owner)
{
    switch (Check(text)) {
    case Problem::None:
        return 1;
    case Problem::ForbiddenCharacter:
        DialogueBox(LoadResourceString(kBadCharacterText), LoadResourceString(kCaption), owner,
                    kDialogueOk, kDialogueIconStop);
        return 0;
    case Problem::Blank:
        DialogueBox(LoadResourceString(kBlankText), LoadResourceString(kCaption), owner,
                    kDialogueOk, kDialogueIconExclamation);
        return 0;
    }
    return 0;
}

bool AccountNames::IsSafeFolderName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find_first_of("/\r\n") == std::string::npos && name.find('\0') == std::string::npos;
}

bool AccountNames::SameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}
