#pragma once

#include <ctime>
#include <string>

// Keeps a damaged file under a second name before a repair replaces it:
// "<path>.damaged-<YYYYMMDD-HHMMSS>" (local time `now`), with "-2", "-3" ... added while that
// name is taken. The copy is a hard link, so it costs no space and cannot fail half way.
// True with the name in `copy`; false with a readable reason in `error`.
bool KeepDamagedCopy(const std::string& path, std::time_t now, std::string& copy,
                     std::string& error);
