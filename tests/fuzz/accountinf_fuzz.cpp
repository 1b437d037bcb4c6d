// Feeds arbitrary bytes to the Account.inf reader. Whatever it reads must write back and
// read again to the same record (the writer refuses only values the reader never returns:
// no CR LF inside a line value), except the password of an account whose secret is in the
// keyring, which is written empty.
#include "accountfile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    AccountRecord record;
    CAccountFile::ParseAccountInf(bytes, record);

    std::string written;
    if (CAccountFile::FormatAccountInf(record, written) != 1) {
        // Only a NUL inside a value may be refused; CR LF cannot survive the reader.
        if (!CAccountFile::LineValueProblem(record.userName).empty() ||
            !CAccountFile::LineValueProblem(record.server).empty() ||
            !CAccountFile::LineValueProblem(record.mailType).empty() ||
            !CAccountFile::LineValueProblem(record.port).empty() ||
            !CAccountFile::LineValueProblem(record.periodCheck).empty() ||
            !CAccountFile::LineValueProblem(record.period).empty() ||
            !CAccountFile::LineValueProblem(record.specifiedTimeCheck).empty() ||
            !CAccountFile::LineValueProblem(record.specifiedTime).empty() ||
            !CAccountFile::LineValueProblem(record.priview).empty() ||
            !CAccountFile::LineValueProblem(record.secret).empty())
            return 0;
        std::abort();
    }
    AccountRecord again;
    CAccountFile::ParseAccountInf(written, again);
    if (again.mailType != record.mailType || again.userName != record.userName ||
        again.server != record.server || again.port != record.port ||
        again.period != record.period || again.priview != record.priview ||
        again.specifiedTime != record.specifiedTime ||
        // A password kept in the keyring is never written to the file.
        (record.secret == kSecretKeyring ? !again.password.empty()
                                         : again.password != record.password) ||
        again.security != record.security || again.secret != record.secret ||
        UsesOAuthSignIn(again) != UsesOAuthSignIn(record))
        std::abort();
    return 0;
}
