#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CRegistryKey;

// One value of a settings group, kept as the store holds it and read through its type:
// - SettingValue<std::string>: a text (SZ), exactly as stored;
// - SettingValue<bool>: a switch (SZ "1" / "0"), on when its text reads as a non-zero number;
// - SettingValue<int>: a decimal number (SZ), read as SettingNumber() reads it;
// - SettingValue<uint32_t>: a 32-bit number (DWORD).
// Every reader of a switch or number gets the same answer from the same stored text. A value
// that is loaded and saved again without Set() writes back the very text it was stored as, so
// a hand-written value survives a save of its group, also one longer than the read size that
// Get() and Stored() see cut; Set() stores the canonical text.
//
// A missing or unreadable value reads as the empty text (a switch off, a number 0), except a
// DWORD, which keeps the number it had. Plain value type; not thread-safe.
template <class T> class SettingValue
{
public:
    SettingValue() = default;
    explicit SettingValue(T initial) { Set(initial); }

    T Get() const;
    void Set(T value);
    // The stored text ("" when the value is missing; a DWORD as its decimal text).
    const std::string& Stored() const { return text_; }

    // Reads the value `name` of the open key, at most size - 1 bytes of it (see
    // CRegistryKey::ReadString).
    void Load(CRegistryKey& key, const char* name, size_t size);
    // What a value of a key that cannot be opened reads as.
    void Forget();
    // 1 when written.
    int Save(CRegistryKey& key, const char* name) const;

private:
    std::string text_;
    // The whole stored text when Load cut it, for Save; empty otherwise.
    std::string uncut_;
};

extern template class SettingValue<std::string>;
extern template class SettingValue<bool>;
extern template class SettingValue<int>;
extern template class SettingValue<uint32_t>;
