#include "programkey.h"

#include "registrykey.h"
#include "resourceids.h"
#include "resourcelibrary.h"

namespace
{

std::string WordOr(unsigned id, const char* fallback)
{
    std::string word = LoadResourceString(id);
    return word.empty() ? std::string(fallback) : word;
}

} // namespace

std::string ProgramKey::CompanyWord()
{
    return WordOr(ResId::kCompanyWord, "Koravel");
}

std::string ProgramKey::ApplicationWord()
{
    return WordOr(ResId::kApplicationWord, "Pigeonpost");
}

std::string ProgramKey::Path()
{
    // The words are single key names even if a translated bundle puts a separator in them.
    return "Software\\" + CRegistryKey::EscapeKeyName(CompanyWord()) + "\\" +
           CRegistryKey::EscapeKeyName(ApplicationWord());
}

std::string ProgramKey::Path(const std::string& subkey)
{
    return Path() + "\\" + subkey;
}
