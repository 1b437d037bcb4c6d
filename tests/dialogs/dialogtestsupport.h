#pragma once

#include "accountmanager.h"
#include "newaccount.h"
#include "passcipher.h"
#include "ui/uitestsupport.h"

#include <QString>
#include <string>

// A sandbox with one POP3 account "Work" created as the wizard creates it.
inline bool MakeAccount(CAccountManager& table, const std::string& name = "Work")
{
    NewAccountRequest request{name, "POP3", "mail.example.org", "alice", "pw", std::nullopt, ""};
    return CreateNewAccount(request, &table).Ok();
}

// Account.inf from the documented line order, written independently of the writer.
inline std::string
ExpectedInf(const std::string& name, const std::string& kind, const std::string& user,
            const std::string& server, const std::string& port, const std::string& priview,
            const std::string& security, const std::string& password,
            const std::string& schedule = "PeriodCheck=No\r\nPeriod=15\r\nSpecifiedTimeCheck=No\r\n"
                                          "SpecifiedTime=09:00\r\n")
{
    std::string out = "[" + name + "]\r\nMailType=" + kind + "\r\nUserName=" + user +
                      "\r\nServer=" + server + "\r\nPort=" + port + "\r\n" + schedule +
                      "Priview=" + priview + "\r\n";
    if (!security.empty())
        out += "Security=" + security + "\r\n";
    std::string protectedPassword = password;
    CPassCipher(kAccountInfContainer, kAccountInfPass)
        .Protect(protectedPassword.data(), protectedPassword.size());
    return out + "Password=" + protectedPassword + "\r\n";
}
