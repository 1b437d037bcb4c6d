#include "trustcertificate.h"

#include "accounteditor.h"
#include "accountfile.h"
#include "accountmanager.h"
#include "apppaths.h"
#include "certificatepin.h"

std::string TrustAccountCertificate(CAccountManager& table, const std::string& account,
                                    const std::string& pin)
{
    AccountRecord record;
    record.name = account;
    if (CAccountFile::ReadAccountFile(AppPaths::AccountFile(table.TranslateName(account, 0)),
                                      record) != 1)
        return "cannot read the settings of \"" + account + "\"";
    record.name = account;
    record.pin = CanonicalPin(pin);
    if (record.pin.empty())
        return "not a certificate fingerprint";
    const AccountEditResult result =
        CAccountEditor(table).ApplyProperties(account, record, nullptr);
    return result.Ok() ? std::string() : result.message;
}
