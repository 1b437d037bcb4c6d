#pragma once

#include <string>
#include <vector>

// The column layout of a report list as kept in the profile string ("Settings",
// "MailHeaderList"): the width of every defined column, and which columns are shown in
// which order.
//
// Text form: each number is preceded by exactly one separator character, which is skipped
// whatever it is: n (the number of defined columns), m (the number of shown columns), the n
// widths in definition order, then the m column indices in display order. Format() writes
// "," as the separator, e.g. ",2,2,20,100,1,0".
//
// Parse() is strict, so that a string written for another program version, cut short or
// edited by hand is ignored as a whole rather than half applied: n must equal the number of
// columns the caller defines, 1 <= m <= n, widths lie in 0..kMaxWidth, indices are in range
// and each appears at most once, and nothing but the numbers and their separators may be in
// the text. Pure and thread-safe.
struct ColumnLayout {
    static constexpr int kMaxWidth = 10000;

    std::vector<int> widths; // one per defined column
    std::vector<int> order;  // the shown columns, left to right

    // False (and `out` untouched) when the text does not fit `definedColumns`.
    static bool Parse(const std::string& text, int definedColumns, ColumnLayout* out);
    std::string Format() const;

    bool operator==(const ColumnLayout&) const = default;
};

// The list's rule on resize: the columns at display positions 2, 3 and 4 take 27, 28 and 21
// per cent of the change of the client width (each share cut towards zero), and the column at
// position 5 fills the rest, less 21 pixels. `widths` are by display position; positions that
// do not exist are skipped. No width goes below `minimum`, so that a window shrunk to nothing
// and grown again never leaves a column with a negative width. Returns true when anything
// changed. Pure.
bool ApplyResizeRule(std::vector<int>& widths, int lastWidth, int newWidth, int minimum);
