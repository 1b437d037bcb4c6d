#pragma once

#include <string_view>

// Whether the bytes of an INI settings file hold a value that QSettings would turn into an
// object when it parses the file: "@Variant(...)" or "@DateTime(...)", also when quoted, an
// element of a comma list, or spelled with backslash escapes. Such a value makes QSettings
// deserialise whatever type its bytes name, and some types (a pixmap in a program without a
// display) abort the process. The store writes only text, and QSettings writes a text that
// starts with '@' with the '@' doubled, so only a hand-edited or damaged file holds one.
//
// The test errs on the safe side: a value is looked at however its line is placed (section
// and comment lines included when they hold '='). Pure; thread-safe.
bool IniHoldsObjectValue(std::string_view bytes);
