#pragma once

#include <cstddef>
#include <cstdint>

// One row of the full case folding table: a code point and what it folds to (up to three
// code points, unused ones 0). Rows are sorted by code point.
struct CaseFoldEntry {
    uint32_t codePoint;
    uint32_t folded[3];
};

extern const CaseFoldEntry kCaseFoldTable[];
extern const size_t kCaseFoldTableSize;
