#pragma once

#include <string>

// One filter rule as the filter manager dialog edits it and the settings store keeps it: the
// sub-key `name` of "...\\Filter Manager" with four string values.
struct FilterRule {
    std::string name;           // sub-key name, shown in the dialog
    std::string position;       // "Position": the display text of the sender or subject choice
    std::string condition;      // "Condition": the display text of the contains or is choice
    std::string context;        // "Context": the text looked for
    std::string deleteInServer; // "CheckDeleteInServer": "1" delete on the server, "0" hide
};
