#pragma once

#include <ostream>

// A row of a parameterised test table prints as its name. gtest shows each case's parameter
// in its test list (--gtest_list_tests) and in failure messages; without a printer a row
// shows as "GetParam() = 72-byte object <...>". Write it after the row's type, in the same
// namespace:
//
//     struct SoundRow { const char* name; ... };
//     POSTWATCH_ROW_PRINTS_NAME(SoundRow)
//
// and name the cases by the same field in INSTANTIATE_TEST_SUITE_P:
//     [](const auto& info) { return std::string(info.param.name); }
#define POSTWATCH_ROW_PRINTS_NAME(Row)                                                             \
    [[maybe_unused]] inline void PrintTo(const Row& row, std::ostream* out)                        \
    {                                                                                              \
        *out << row.name;                                                                          \
    }
