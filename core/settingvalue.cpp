#include "settingvalue.h"

#include "registrykey.h"
#include "settingnumber.h"

#include <charconv>
#include <limits>
#include <type_traits>

namespace
{
template <class T> constexpr bool kIsDword = std::is_same_v<T, uint32_t>;
} // namespace

template <class T> T SettingValue<T>::Get() const
{
    if constexpr (std::is_same_v<T, bool>) {
        return SettingNumber(text_) != 0;
    } else if constexpr (std::is_same_v<T, int>) {
        return SettingNumber(text_);
    } else if constexpr (kIsDword<T>) {
        // The text is only ever what Set() or a successful ReadDword() left.
        uint32_t value = 0;
        std::from_chars(text_.data(), text_.data() + text_.size(), value);
        return value;
    } else {
        return text_;
    }
}

template <class T> void SettingValue<T>::Set(T value)
{
    uncut_.clear();
    if constexpr (std::is_same_v<T, bool>)
        text_ = value ? "1" : "0";
    else if constexpr (std::is_same_v<T, std::string>)
        text_ = std::move(value);
    else
        text_ = std::to_string(value);
}

template <class T> void SettingValue<T>::Load(CRegistryKey& key, const char* name, size_t size)
{
    if constexpr (kIsDword<T>) {
        uint32_t value = 0;
        if (key.ReadDword(name, value)) // an unreadable number keeps the one we had
            Set(value);
    } else {
        uncut_.clear();
        key.ReadString(name, text_, size); // a missing value leaves the text empty
        // A text near the read size may have been cut (at most 3 bytes short of it, at a
        // UTF-8 character boundary): keep the whole of it for a save.
        if (text_.size() + 4 >= size) {
            std::string whole;
            if (key.ReadString(name, whole, std::numeric_limits<size_t>::max()) && whole != text_)
                uncut_ = std::move(whole);
        }
    }
}

template <class T> void SettingValue<T>::Forget()
{
    uncut_.clear();
    if constexpr (!kIsDword<T>)
        text_.clear();
}

template <class T> int SettingValue<T>::Save(CRegistryKey& key, const char* name) const
{
    if constexpr (kIsDword<T>)
        return key.WriteDword(name, Get());
    else
        return key.WriteString(name, uncut_.empty() ? text_ : uncut_);
}

template class SettingValue<std::string>;
template class SettingValue<bool>;
template class SettingValue<int>;
template class SettingValue<uint32_t>;
