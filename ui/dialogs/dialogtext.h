#pragma once

#include <QString>

// Texts of the dialogs, by number, from the resource bundle. The field labels and button
// texts the dialogs need beyond the message catalogue (6xxxx, 328xx) use our own ranges
// 40100-40199 and 40800-40849 (resources/strings/en.tsv); a test checks that every number named
// here has its line. Threads: any (reads the loaded bundle).
namespace DlgText
{

// Labels and buttons of our own (40100-40199).
constexpr unsigned kPassword = 40100;        // "&Password:"
constexpr unsigned kConfirm = 40101;         // "&Confirm:"
constexpr unsigned kPasswordsDiffer = 40102; // "The two entries differ."
constexpr unsigned kSetAccessCaption = 40103;
constexpr unsigned kSetAccessHint = 40104;
constexpr unsigned kAccountLabel = 40105; // "Account: %s"
constexpr unsigned kAccountName = 40106;  // "Account na&me:"
constexpr unsigned kKind = 40107;         // "Account &type:"
// The account kinds as the user reads them (see accountkindtext.h).
constexpr unsigned kKindPop3 = 40108;     // "POP3"
constexpr unsigned kKindImap4 = 40109;    // "IMAP"
constexpr unsigned kKindExchange = 40110; // "Local mailbox (Maildir)"
constexpr unsigned kKindWebMail = 40111;  // "Web mail"
constexpr unsigned kServer = 40112;       // "&Server:"
constexpr unsigned kPort = 40113;         // "P&ort:"
constexpr unsigned kUser = 40114;         // "&User name:"
constexpr unsigned kSecurity = 40115;     // "S&ecurity:"
constexpr unsigned kSecurityTls = 40116;
constexpr unsigned kSecurityStartTls = 40117;
constexpr unsigned kSecurityNone = 40118;
constexpr unsigned kTestConnection = 40119;    // "&Test Connection"
constexpr unsigned kPushSwitch = 40320;        // "Push ne&w mail at once (IMAP IDLE)"
constexpr unsigned kMarkReadOnServer = 40321;  // "Mar&k as read on the server too"
constexpr unsigned kSignedInWithOAuth = 40950; // "Signed in with OAuth 2.0 (postwatch --sign-in)"
constexpr unsigned kTestRunning = 40120;
constexpr unsigned kTestPassed = 40121; // "%d messages on the server."
constexpr unsigned kTestFailed = 40122; // "The test failed: %s"
constexpr unsigned kImport = 40123;     // "&Import..."
constexpr unsigned kProfile = 40124;    // "P&rofile:"
constexpr unsigned kCategory = 40125;   // "&Service:"
constexpr unsigned kWizardIntro = 40126;
constexpr unsigned kWizardDone = 40127;
constexpr unsigned kLabelFailed = 40128; // "The account could not be created: %s"
constexpr unsigned kRuleSaveFailed = 40129;
constexpr unsigned kRuleName = 40130;     // "&Name:"
constexpr unsigned kRulePosition = 40131; // "&Field:"
constexpr unsigned kRuleCondition = 40132;
constexpr unsigned kRuleContext = 40133;
constexpr unsigned kRuleDelete = 40134; // "&Delete on the server"
constexpr unsigned kRuleHide = 40135;   // "&Hide only"
constexpr unsigned kNew = 40136;
constexpr unsigned kSave = 40137;
constexpr unsigned kDelete = 40138;
constexpr unsigned kRules = 40139;             // "&Rules:"
constexpr unsigned kPropertiesCaption = 40140; // "%s Properties"
constexpr unsigned kPeriodCheck = 40141;       // "&Check every (minutes):"
constexpr unsigned kDailyCheck = 40142;        // "Check &daily at:"
constexpr unsigned kPreview = 40143;           // "Pre&view:"
constexpr unsigned kAccessPassword = 40144;    // "&Access Password..."
constexpr unsigned kSecurityDefault = 40145;   // "Automatic"
constexpr unsigned kApplyFailed = 40146;       // "The account could not be saved: %s"
constexpr unsigned kPlainPassword = 40147;     // "The password will travel unencrypted."
constexpr unsigned kPageGeneral = 40150;
constexpr unsigned kPageNetwork = 40151;
constexpr unsigned kPageNotify = 40152;
constexpr unsigned kPageExchange = 40153;
constexpr unsigned kStartup = 40154;
constexpr unsigned kMinimum = 40155;
constexpr unsigned kMailClient = 40156;
constexpr unsigned kMailCommand = 40157;
constexpr unsigned kConnection1 = 40158;
constexpr unsigned kConnection2 = 40159;
constexpr unsigned kConnection3 = 40160;
constexpr unsigned kDialupEntry = 40161;
constexpr unsigned kHangUp = 40162;
constexpr unsigned kUseExisting = 40163;
constexpr unsigned kTimeout = 40164;
constexpr unsigned kFlashIcon = 40165;
constexpr unsigned kKeepInKeyring = 40901; // "Keep passwords in the system &keyring"
constexpr unsigned kSecretsStayed = 40902; // "These accounts keep their passwords where ..."
constexpr unsigned kEffect3d = 40166;
constexpr unsigned kStartClient = 40167;
constexpr unsigned kPopup = 40168;
constexpr unsigned kMailLed = 40169;
constexpr unsigned kSound = 40170;
constexpr unsigned kBrowse = 40171;
constexpr unsigned kPlay = 40172;
constexpr unsigned kDefaultExchange = 40173;
constexpr unsigned kAutoStartExchange = 40174;
constexpr unsigned kWaveFilter = 40175;
// The new account wizard's last page: schedule and mail already on the server.
constexpr unsigned kWizardPeriod = 40185;       // "Check every"
constexpr unsigned kWizardMinutes = 40186;      // "minutes"
constexpr unsigned kWizardExisting = 40187;     // "Mail already on the server:"
constexpr unsigned kWizardShowExisting = 40188; // "show it"
constexpr unsigned kWizardFromNow = 40189;      // "only mail that arrives from now on"
// A server certificate the test refused, and the one an account trusts (40800-40849).
constexpr unsigned kCertificateUntrusted = 40800; // "The server's certificate is not trusted."
constexpr unsigned kCertificateChanged = 40801;
constexpr unsigned kTrustCertificate = 40802; // "Trust this certificate for this account"
constexpr unsigned kCertificateSubject = 40803;
constexpr unsigned kCertificateIssuer = 40804;
constexpr unsigned kCertificateValid = 40805;
constexpr unsigned kCertificateFingerprint = 40806;
constexpr unsigned kCertificateValidity = 40807;  // "%s until %s"
constexpr unsigned kTrustedCertificate = 40808;   // "Trusted certificate:"
constexpr unsigned kTrustStoreDecides = 40809;    // "the system's trusted authorities"
constexpr unsigned kForgetCertificate = 40810;    // "&Forget"
constexpr unsigned kTestPinnedConnection = 40811; // "Test the co&nnection" (properties)
// The new account wizard's look-up of server settings from the e-mail address (40850-40899).
constexpr unsigned kEmailAddress = 40850;  // "&E-mail address:"
constexpr unsigned kLookupRunning = 40851; // "Looking up the server settings of %s..."
constexpr unsigned kLookupFound = 40852;   // "Server settings found for %s."
constexpr unsigned kLookupNothing = 40853;
// The server page's OAuth 2.0 sign-in (40960-40999).
constexpr unsigned kSignInChoice = 40960;    // "Sign-&in:"
constexpr unsigned kSignInPassword = 40961;  // "Password"
constexpr unsigned kSignInOAuth = 40962;     // "OAuth 2.0"
constexpr unsigned kOAuthProvider = 40963;   // "Pro&vider:"
constexpr unsigned kOAuthSignIn = 40964;     // "Si&gn in..."
constexpr unsigned kOAuthCancel = 40965;     // "Cancel sign-in"
constexpr unsigned kOAuthWaiting = 40966;    // "Waiting for the sign-in in the browser..."
constexpr unsigned kOAuthSignedIn = 40967;   // "Signed in with %s."
constexpr unsigned kOAuthFailed = 40968;     // "Sign-in failed: %s"
constexpr unsigned kOAuthNoProvider = 40969; // "No OAuth 2.0 provider is set up."

// The bundle's text; empty when it has none.
QString Text(unsigned id);

// `pattern` with its first "%s" replaced by `value` (and "%d" when there is no "%s").
QString Fill(const QString& pattern, const QString& value);

} // namespace DlgText
