#include "accountfile.h"

#include "atomicfilewriter.h"
#include "certificatepin.h"
#include "passcipher.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

struct KeyField {
    const char* key;
    std::string AccountRecord::*field;
};

// The key lines in file order; "Security=" and "Password=" follow them.
const KeyField kKeys[] = {
    {"MailType=", &AccountRecord::mailType},
    {"UserName=", &AccountRecord::userName},
    {"Server=", &AccountRecord::server},
    {"Port=", &AccountRecord::port},
    {"PeriodCheck=", &AccountRecord::periodCheck},
    {"Period=", &AccountRecord::period},
    {"SpecifiedTimeCheck=", &AccountRecord::specifiedTimeCheck},
    {"SpecifiedTime=", &AccountRecord::specifiedTime},
    {"Priview=", &AccountRecord::priview},
};

constexpr char kSecurityKey[] = "Security=";
constexpr char kPasswordKey[] = "Password=";
// Switches written only when on, so that an account without them keeps its file as it was.
constexpr char kPushKey[] = "Push=";
constexpr char kMarkReadKey[] = "MarkReadOnServer=";
// Written only when the password lives elsewhere ("keyring").
constexpr char kSecretKey[] = "Secret=";
// Written only for OAuth 2.0: absent means the password, as every older file says.
constexpr char kSignInKey[] = "SignIn=";
// Written only for an account that trusts one certificate.
constexpr char kPinKey[] = "Pin=";

bool IsSecurityChoice(const std::string& s)
{
    return s == "None" || s == "STARTTLS" || s == "TLS";
}

// Where the value of `key` starts, or npos. A key counts only at the start of a line
// (after CR LF, or at the very start of the file): a value that happens to contain a key's
// text ("Server=Port=25", a user name "Password=x") is never taken for that key.
size_t FindValue(const std::string& bytes, const std::string& key)
{
    if (bytes.compare(0, key.size(), key) == 0)
        return key.size();
    size_t at = bytes.find("\r\n" + key);
    return at == std::string::npos ? at : at + 2 + key.size();
}

// The value of a line keyed `key` before the password, or empty.
std::string LineValue(const std::string& head, const std::string& key)
{
    size_t from = FindValue(head, key);
    if (from == std::string::npos)
        return {};
    size_t end = head.find("\r\n", from);
    return end == std::string::npos ? std::string() : head.substr(from, end - from);
}

// Result 0 with the reason in `error`.
int Fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return 0;
}

} // namespace

std::string CAccountFile::LineValueProblem(const std::string& value)
{
    if (value.find('\r') != std::string::npos)
        return "contains a carriage return";
    if (value.find('\n') != std::string::npos)
        return "contains a line feed";
    if (value.find('\0') != std::string::npos)
        return "contains a zero byte";
    return {};
}

int CAccountFile::FormatAccountInf(const AccountRecord& r, std::string& out, std::string* error)
{
    // A CR or LF in a value would start a line of its own and could plant a key (an
    // attacker-chosen "Server=" or "Password="); refuse instead of writing it.
    std::string problem = LineValueProblem(r.name);
    if (!problem.empty())
        return Fail(error, "The account name " + problem + ".");
    for (const auto& k : kKeys) {
        problem = LineValueProblem(r.*k.field);
        if (!problem.empty()) {
            std::string key(k.key);
            key.pop_back();
            return Fail(error, "The value of " + key + " " + problem + ".");
        }
    }
    problem = LineValueProblem(r.secret);
    if (!problem.empty())
        return Fail(error, "The value of Secret " + problem + ".");
    if (!r.security.empty() && !IsSecurityChoice(r.security))
        return Fail(error, "Unknown security choice \"" + r.security +
                               "\" (expected None, STARTTLS or TLS).");

    if (!r.pin.empty() && CanonicalPin(r.pin) != r.pin)
        return Fail(error, "The certificate fingerprint \"" + r.pin +
                               "\" is not 64 hexadecimal digits in lower case.");

    out = "[" + r.name + "]\r\n";
    for (const auto& k : kKeys)
        out += k.key + r.*k.field + "\r\n";
    if (!r.security.empty())
        out += kSecurityKey + r.security + "\r\n";
    if (r.push == "Yes")
        out += std::string(kPushKey) + "Yes\r\n";
    if (r.markReadOnServer == "Yes")
        out += std::string(kMarkReadKey) + "Yes\r\n";
    if (!r.secret.empty())
        out += kSecretKey + r.secret + "\r\n";
    if (UsesOAuthSignIn(r))
        out += std::string(kSignInKey) + kSignInOAuth2 + "\r\n";
    if (!r.pin.empty())
        out += kPinKey + r.pin + "\r\n";
    out += kPasswordKey;
    // A password kept in the keyring never reaches the file, whatever the record holds.
    std::string protectedBytes = r.secret == kSecretKeyring ? std::string() : r.password;
    CPassCipher cipher(kAccountInfContainer, kAccountInfPass);
    // A failed protection stops at the bare key, which reads back as an empty password.
    if (cipher.Protect(protectedBytes.data(), protectedBytes.size()) == 1)
        out += protectedBytes + "\r\n";
    return 1;
}

void CAccountFile::ParseAccountInf(const std::string& bytes, AccountRecord& r)
{
    // "Password=" is the last line and its enciphered value may hold any bytes, a key's
    // text included. So the password is found first, and the other keys only before it:
    // otherwise bytes inside the password could pose as a line of their own.
    size_t passwordFrom = FindValue(bytes, kPasswordKey);
    const std::string head =
        passwordFrom == std::string::npos
            ? bytes
            : bytes.substr(0, passwordFrom - std::char_traits<char>::length(kPasswordKey));

    for (const auto& k : kKeys) {
        std::string& value = r.*k.field;
        value.clear();
        size_t from = FindValue(head, k.key);
        if (from == std::string::npos)
            continue;
        size_t end = head.find("\r\n", from);
        if (end != std::string::npos)
            value = head.substr(from, end - from);
    }

    r.security.clear();
    size_t from = FindValue(head, kSecurityKey);
    if (from != std::string::npos) {
        size_t end = head.find("\r\n", from);
        if (end != std::string::npos) {
            std::string value = head.substr(from, end - from);
            if (IsSecurityChoice(value))
                r.security = value;
        }
    }

    r.push = LineValue(head, kPushKey);
    r.markReadOnServer = LineValue(head, kMarkReadKey);
    r.secret = LineValue(head, kSecretKey);
    r.signIn = LineValue(head, kSignInKey);
    // A damaged pin trusts nothing: the account falls back to the trust store, which is
    // stricter, never looser.
    r.pin = CanonicalPin(LineValue(head, kPinKey));

    // The password runs from its key to the end of the file, less the final CR LF.
    r.password.clear();
    if (passwordFrom != std::string::npos && bytes.size() >= passwordFrom + 2) {
        std::string value = bytes.substr(passwordFrom, bytes.size() - passwordFrom - 2);
        CPassCipher cipher(kAccountInfContainer, kAccountInfPass);
        if (cipher.Unprotect(value.data(), value.size()) == 1)
            r.password = value;
    }
}

int CAccountFile::WriteAccountFile(const std::string& path, const AccountRecord& record,
                                   std::string* error)
{
    std::string bytes;
    if (FormatAccountInf(record, bytes, error) != 1)
        return 0;
    AtomicFileWriter writer(path, 0600);
    if (!writer.Open() || !writer.Write(bytes) || !writer.Commit())
        return Fail(error, "Cannot write the account file: " + writer.Error());
    return 1;
}

int CAccountFile::ReadAccountFile(const std::string& path, AccountRecord& record)
{
    std::string name = record.name;
    record = AccountRecord{};
    record.name = name;

    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st {
    };
    // An account file is a few hundred bytes; anything past 1 MiB is not one of ours.
    constexpr off_t kLimit = 1 << 20;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kLimit) {
        ::close(fd);
        return 0;
    }
    std::string bytes;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return 0;
        }
        if (n == 0)
            break;
        bytes.append(buf, static_cast<size_t>(n));
        if (bytes.size() > static_cast<size_t>(kLimit)) {
            ::close(fd);
            return 0;
        }
    }
    ::close(fd);
    ParseAccountInf(bytes, record);
    return 1;
}
