#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// The command line's --check-now: the desktop's checking engine without a display.
//
// Loads the account table as the worker does, requests a check of each given account
// (names from the account list), runs the worker and the checks until every requested
// account has been finalised (or will never be started: not usable, or its request was
// dropped), then lets the worker drain and end. New mail is stored on one merge thread
// exactly as the desktop's UI thread stores it.
//
// Output on `out`: one line per new message stored, once its check has recorded it
// (account, sender, subject, date, size, attachment), then one line per requested account
// in the given order (account, result code, its meaning or the failure's own reason, new
// count); fields tab-separated, tabs and line breaks inside them made blanks. An account
// whose check never ran or sent no summary shows "-" as its result code and the reason.
// A failure's reason ("cannot store the message in <path>: ...", "<account> is already
// being checked") also goes to `err`, as do texts to show (a dialling error).
//
// Run on the main thread.
class HeadlessCheck
{
public:
    HeadlessCheck(std::ostream& out, std::ostream& err);
    // True when every requested check ended with result 4 (done).
    bool Run(const std::vector<std::string>& accounts);

private:
    std::ostream& out_;
    std::ostream& err_;
};
