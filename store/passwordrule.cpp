#include "passwordrule.h"

std::string PasswordRule::Problem(const std::string& password)
{
    if (password.find_first_of("\r\n") != std::string::npos ||
        password.find('\0') != std::string::npos)
        return "The password cannot contain a line break or a zero byte: a mail server "
               "could never receive it. Please type it again.";
    return {};
}
