#pragma once

#include "accountrecord.h"

#include <string>

// Reads and writes an account's settings file, Account.inf.
//
// Format (byte exact, CR LF line ends, nothing after the last line):
//   "[" name "]" CR LF
//   "MailType=" ... CR LF, "UserName=", "Server=", "Port=", "PeriodCheck=", "Period=",
//   "SpecifiedTimeCheck=", "SpecifiedTime=", "Priview=",
//   ["Security=" value CR LF]   only when the record has a security choice
//   ["Push=Yes" CR LF], ["MarkReadOnServer=Yes" CR LF], ["SignIn=OAuth2" CR LF]
//                               each only when on
//   ["Secret=" value CR LF]     only when the password lives elsewhere ("keyring"); the
//                               password written is then empty
//   ["Pin=" 64 hex digits CR LF]   only for an account that trusts one certificate
//   "Password=" protected bytes CR LF
// The password is protected with CPassCipher (Account.inf container and pass bytes) and
// keeps its length; it may hold any byte, CR, LF and 0 included, so its end is found
// from the end of the file, not from a line end. The optional lines sit before it for that
// reason; readers that do not know them ignore them. A "Pin=" value that is not a
// fingerprint reads as none.
//
// Stateless; every function may be called from any thread. Callers order the writes of
// one account (the user-interface thread writes, check threads read).
class CAccountFile
{
public:
    // Writes the whole file atomically (a crash leaves the old file or the new one), mode
    // 0600. Result 1 on success; 0 with a readable reason in `error` when a value would
    // break the format (CR, LF or NUL outside the password, an unknown security choice, a
    // pin that is not 64 lower-case hex digits) or the file cannot be written. The folder
    // must exist.
    static int WriteAccountFile(const std::string& path, const AccountRecord& record,
                                std::string* error = nullptr);

    // Reads the file into `record` (every field but the name, which is the caller's).
    // Result 1 on success; 0 when the file cannot be read, and then every field is empty.
    static int ReadAccountFile(const std::string& path, AccountRecord& record);

    // The in-memory halves of the two above, shared with the fuzz target.
    // FormatAccountInf: 1 and the bytes in `out`, or 0 and `error` as for the writer.
    static int FormatAccountInf(const AccountRecord& record, std::string& out,
                                std::string* error = nullptr);
    // ParseAccountInf: any bytes are accepted; missing keys give empty fields.
    static void ParseAccountInf(const std::string& bytes, AccountRecord& record);

    // Why a value cannot be stored, or empty when it can (CR, LF or NUL in it).
    static std::string LineValueProblem(const std::string& value);
};
