#pragma once

#include <string>

// The rules for account names, shared by the wizard, the properties dialog, the tree's
// in-place rename, the command line and the file writers.
//
// An account name is also a folder name, so besides the nine characters that Windows
// refuses in file names (\ / : * ? " < > |) it must not be "." or "..", nor hold CR, LF
// or NUL (they would break Account.inf's section line or cut the name short).
//
// Stateless; any thread may call these. ValidateName shows its message through
// DialogueBox, whose backend decides where that appears.
class AccountNames
{
public:
    // Resource texts of the name messages.
    static constexpr unsigned kCaption = 61346; // caption of all three
    static constexpr unsigned kNameInUseText = 61347;
    static constexpr unsigned kBadCharacterText = 61348;
    static constexpr unsigned kBlankText = 61349;

    enum class Problem { None, ForbiddenCharacter, Blank };

    // The check without messages: a forbidden character (also CR, LF, NUL, and the names
    // "." and ".." after trimming) empties `text`; otherwise `text` is trimmed of blanks
    // on both sides, and an empty result is Blank.
    static Problem Check(std::string& text);

    // Validate name: 1 when `text` may name an account (and then `text` is trimmed); 0
    // after showing the message (61348 with the stop icon and `text` emptied, or 61349
    // with the exclamation icon), caption 61346, owned by `owner`.
    static int ValidateName(std::string& text, void* owner);

    // For writers that never show messages: true when `name` can be a folder name here
    // (not empty, not "." or "..", no "/", CR, LF or NUL).
    static bool IsSafeFolderName(const std::string& name);

    // Case-insensitive comparison (ASCII letters) used by the in-use rules.
    static bool SameIgnoringCase(const std::string& a, const std::string& b);
};
