#pragma once

#include <string>
#include <string_view>

// What a secret (a password, the hash that stands for it) reads as in a text for the user.
inline constexpr std::string_view kHiddenSecret = "(hidden)";

// Replaces every occurrence of `secret` in `text` by kHiddenSecret; an empty secret changes
// nothing. The search goes on past each replacement, so a secret that occurs inside
// kHiddenSecret itself (a one-letter password) cannot make it loop.
void HideSecret(std::string& text, std::string_view secret);
