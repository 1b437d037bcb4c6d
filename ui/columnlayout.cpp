#include "columnlayout.h"

#include <algorithm>
#include <cstdint>

namespace
{

// Skips one character of any kind, then reads an optionally signed decimal number. Fails
// on a missing digit and on values that do not fit comfortably into an int.
bool ReadNumber(const std::string& text, size_t& at, int& value)
{
    if (at >= text.size())
        return false;
    ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    const size_t first = at;
    int64_t v = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        v = v * 10 + (text[at] - '0');
        if (v > 1000000000)
            return false;
        ++at;
    }
    if (at == first)
        return false;
    value = static_cast<int>(negative ? -v : v);
    return true;
}

} // namespace

bool ColumnLayout::Parse(const std::string& text, int definedColumns, ColumnLayout* out)
{
    size_t at = 0;
    int n = 0;
    int m = 0;
    if (!ReadNumber(text, at, n) || !ReadNumber(text, at, m))
        return false;
    if (n != definedColumns || m < 1 || m > n)
        return false;
    ColumnLayout layout;
    for (int i = 0; i < n; ++i) {
        int w = 0;
        if (!ReadNumber(text, at, w) || w < 0 || w > kMaxWidth)
            return false;
        layout.widths.push_back(w);
    }
    std::vector<bool> seen(static_cast<size_t>(n), false);
    for (int i = 0; i < m; ++i) {
        int index = 0;
        if (!ReadNumber(text, at, index) || index < 0 || index >= n ||
            seen[static_cast<size_t>(index)])
            return false;
        seen[static_cast<size_t>(index)] = true;
        layout.order.push_back(index);
    }
    if (at != text.size())
        return false;
    *out = std::move(layout);
    return true;
}

std::string ColumnLayout::Format() const
{
    std::string text = "," + std::to_string(widths.size()) + "," + std::to_string(order.size());
    for (int w : widths)
        text += "," + std::to_string(w);
    for (int i : order)
        text += "," + std::to_string(i);
    return text;
}

bool ApplyResizeRule(std::vector<int>& widths, int lastWidth, int newWidth, int minimum)
{
    const int d = newWidth - lastWidth;
    if (d == 0)
        return false;
    const std::vector<int> before = widths;
    // Integer shares, cut towards zero as the conversion of the product does.
    const int shares[3] = {static_cast<int>(d * 0.27), static_cast<int>(d * 0.28),
                           static_cast<int>(d * 0.21)};
    for (size_t i = 0; i < 3; ++i) {
        const size_t position = 2 + i;
        if (position < widths.size())
            widths[position] = std::max(minimum, widths[position] + shares[i]);
    }
    if (widths.size() > 5) {
        int sum = 0;
        for (size_t i = 0; i < 5; ++i)
            sum += widths[i];
        widths[5] = std::max(minimum, newWidth - sum - 21);
    }
    return widths != before;
}
