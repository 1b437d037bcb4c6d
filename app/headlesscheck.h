#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class AccountPlugins;

// The command line's --check-now: the desktop's checking engine without a display.
//
// Loads the account table as the worker does, requests a check of each given account
// (names from the account list), runs the worker and the checks until every requested
// account has been finalised (or will never be started: not usable, or its request was
// dropped), then lets the worker drain and end. New mail is stored on one merge thread
// exactly as the desktop's UI thread stores it.
//
// Output on `out`: one line per new message stored, once its check has recorded it at the
// summary (account, sender, subject, date, size, attachment), and one line per requested
// account as soon as its check has ended (account, result code, the code's meaning or, when
// the failure lies in the program's own files, that reason, new count),
// so the accounts appear in the order their checks end and a slow server holds up only its
// own line. Fields are tab-separated; tabs and line breaks inside them are made blanks, other
// control characters U+FFFD (TabField). An account whose check never ran or sent no summary
// shows "-" as its result code and the reason. Every account that did not end with result 4
// also gets one line on `err`, "postwatch: NAME: MESSAGE", where MESSAGE is the reason (a
// server's words follow the code's meaning); texts to show (a dialling error) go to `err` as
// well. Each line is flushed when written.
//
// Web-mail accounts are checked by the web-mail plug-in, Exchange accounts logged on by the
// mailbox plug-in: its log-on scan's messages are printed like the others, and the watch it
// starts is logged off before Run returns. A plug-in's question ("try again?") is answered
// Cancel, with its text on `err`; result meanings follow the account's kind.
//
// Run on the main thread.
class HeadlessCheck
{
public:
    // `plugins` answer for the accounts as they enter the table (nullptr: the linked
    // plug-in libraries).
    HeadlessCheck(std::ostream& out, std::ostream& err,
                  std::shared_ptr<const AccountPlugins> plugins = nullptr);
    // True when every requested check ended with result 4 (done).
    bool Run(const std::vector<std::string>& accounts);

private:
    std::ostream& out_;
    std::ostream& err_;
    std::shared_ptr<const AccountPlugins> plugins_;
};
