#include "dialogtext.h"

#include "resourcelibrary.h"

#include <map>

namespace DlgText
{

namespace
{

const std::map<unsigned, const char*>& Builtin()
{
    static const std::map<unsigned, const char*> texts = {
        {kPassword, "&Password:"},
        {kConfirm, "&Confirm:"},
        {kPasswordsDiffer, "The two entries differ. Please type the password again."},
        {kSetAccessCaption, "Access Password"},
        {kSetAccessHint, "Leave both fields empty to remove the access password."},
        {kAccountLabel, "Account: %s"},
        {kAccountName, "Account &name:"},
        {kKind, "Account &type:"},
        {kKindPop3, "POP3"},
        {kKindImap4, "IMAP4"},
        {kKindExchange, "Exchange"},
        {kKindWebMail, "Web mail"},
        {kServer, "&Server:"},
        {kPort, "P&ort:"},
        {kUser, "&User name:"},
        {kSecurity, "S&ecurity:"},
        {kSecurityTls, "SSL/TLS"},
        {kSecurityStartTls, "STARTTLS"},
        {kSecurityNone, "None"},
        {kTestConnection, "&Test Connection"},
        {kTestRunning, "Testing..."},
        {kTestPassed, "Connected: %s messages on the server."},
        {kTestFailed, "The test failed: %s"},
        {kImport, "&Import..."},
        {kProfile, "&Profile:"},
        {kCategory, "&Service:"},
        {kWizardIntro, "Enter a name for the new account and choose its type."},
        {kWizardDone, "The account is ready. Press Finish to create it."},
        {kLabelFailed, "The account could not be created: %s"},
        {kRuleSaveFailed, "The rule could not be saved. A rule name cannot contain a backslash."},
        {kRuleName, "&Name:"},
        {kRulePosition, "&Field:"},
        {kRuleCondition, "Con&dition:"},
        {kRuleContext, "&Text:"},
        {kRuleDelete, "Delete &on the server"},
        {kRuleHide, "&Hide only"},
        {kNew, "Ne&w"},
        {kSave, "&Save"},
        {kDelete, "De&lete"},
        {kRules, "&Rules:"},
        {kPropertiesCaption, "%s Properties"},
        {kPeriodCheck, "&Check every (minutes):"},
        {kDailyCheck, "Check &daily at:"},
        {kPreview, "Pre&view:"},
        {kAccessPassword, "&Access Password..."},
        {kSecurityDefault, "Automatic"},
        {kApplyFailed, "The account could not be saved: %s"},
        {kPageGeneral, "General"},
        {kPageNetwork, "Network"},
        {kPageNotify, "Notify"},
        {kPageExchange, "Exchange"},
        {kStartup, "&Start when I log in"},
        {kMinimum, "Start &minimised in the tray"},
        {kMailClient, "Mail &client:"},
        {kMailCommand, "C&ommand:"},
        {kConnection1, "&Always connected"},
        {kConnection2, "Use the system's &network test"},
        {kConnection3, "&Dial up when needed"},
        {kDialupEntry, "Dial-up &entry:"},
        {kHangUp, "&Hang up after the check"},
        {kUseExisting, "&Use an existing dial-up connection"},
        {kTimeout, "&Time-out (seconds):"},
        {kFlashIcon, "&Flash the tray icon"},
        {kEffect3d, "Show the &3D notifier"},
        {kStartClient, "Start the mail &client"},
        {kPopup, "Show a &popup message"},
        {kMailLed, "Light the mail &LED"},
        {kSound, "Play a &sound:"},
        {kBrowse, "&Browse..."},
        {kPlay, "P&lay"},
        {kDefaultExchange, "&Exchange account:"},
        {kAutoStartExchange, "&Log on to Exchange at start-up"},
        {kWaveFilter, "Wave files (*.wav)"},
    };
    return texts;
}

} // namespace

QString Text(unsigned id)
{
    const std::string stored = LoadResourceString(id);
    if (!stored.empty())
        return QString::fromStdString(stored);
    const auto it = Builtin().find(id);
    return it == Builtin().end() ? QString() : QString::fromUtf8(it->second);
}

QString Fill(const QString& pattern, const QString& value)
{
    QString text = pattern;
    qsizetype at = text.indexOf(QLatin1String("%s"));
    if (at < 0)
        at = text.indexOf(QLatin1String("%d"));
    if (at >= 0)
        text.replace(at, 2, value);
    return text;
}

} // namespace DlgText
