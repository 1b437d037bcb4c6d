#pragma once

#include <string>
#include <string_view>

// Decodes the HTML character references of a text taken from a web-mail page or answer, in
// one pass from left to right: text produced by a reference is never decoded again, so
// "&amp;lt;" gives "&lt;". Named references give their standard characters in UTF-8
// ("&quot;" a double quote, "&copy;" ©, "&yen;" ¥ ...), decimal ("&#39;") and hexadecimal
// ("&#x2019;") references the character they number; an unknown name, a number that is no
// Unicode scalar value or a reference without its ";" stays as written.
std::string DecodeHtmlEntities(std::string_view text);
