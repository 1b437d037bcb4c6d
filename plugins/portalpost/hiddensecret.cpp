#include "hiddensecret.h"

void HideSecret(std::string& text, std::string_view secret)
{
    if (secret.empty())
        return;
    for (size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + kHiddenSecret.size()))
        text.replace(at, secret.size(), kHiddenSecret);
}
