#pragma once

#include <string>

// Names of keys and values in the settings store.
//
// The INI layer underneath treats '/' and '\\' as group separators, so a single name that
// contains them (a filter rule is named by the user) is kept in an escaped form: '%' -> "%25",
// '/' -> "%2F", '\\' -> "%5C". Unescaping only undoes these three sequences; any other '%'
// stays as written, so names made by hand in the file read back unchanged.
//
// Names compare like the Windows registry does: without regard to case (Unicode simple case
// folding, so "Ä" and "ä" are one name). All functions are pure and thread-safe.
namespace RegistryName
{

std::string Escape(const std::string& raw);
std::string Unescape(const std::string& stored);

// True when a and b name the same key or value.
bool Equal(const std::string& a, const std::string& b);
// Case-insensitive order with a case-sensitive tie-break, so that the order is total.
bool Less(const std::string& a, const std::string& b);

} // namespace RegistryName
