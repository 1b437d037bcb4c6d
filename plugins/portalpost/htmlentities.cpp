#include "htmlentities.h"

std::string DecodeHtmlEntities(std::string_view text)
{
    return std::string(text);
}
