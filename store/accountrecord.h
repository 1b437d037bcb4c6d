#pragma once

#include "leadingdecimal.h"

#include <string>

// One account as its Account.inf holds it: eleven texts (numbers and switches are text
// too), plus the optional transport security choice.
//
// The record is a plain value; copy it freely between threads.
struct AccountRecord {
    std::string name;               // section line; also the folder name
    std::string mailType;           // "POP3", "IMAP4", "Portalpost", "Exchange(MAPI)"
    std::string userName;           // "UserName="
    std::string server;             // host, web-mail category or MAPI profile
    std::string port;               // decimal text
    std::string periodCheck;        // "Yes" switches the periodic check on
    std::string period;             // minutes, decimal text
    std::string specifiedTimeCheck; // "Yes" switches the daily check on
    std::string specifiedTime;      // "HH:MM"; only the first and last two characters count
    std::string priview;            // preview setting, decimal text
    std::string password;           // plain in memory, protected on disk

    // Transport security: "None", "STARTTLS" or "TLS"; empty = no choice stored (the file
    // then has no "Security=" line and the protocol's default applies).
    std::string security;

    // "Yes" keeps a push connection (IMAP IDLE) open; anything else, or no "Push=" line, is
    // off. IMAP4 only.
    std::string push;
    // "Yes" also sets \Seen on the server for messages marked read here; anything else, or
    // no "MarkReadOnServer=" line, keeps marking read local. IMAP4 only.
    std::string markReadOnServer;

    // Where the password lives: "keyring" = in the desktop's keyring (the "Password=" line
    // then holds an empty password); empty, or no "Secret=" line, = in this file. Another
    // value is kept as read.
    std::string secret;
    // "OAuth2": the account signs in with OAuth 2.0 and `password` holds the refresh token;
    // anything else, or no "SignIn=" line, signs in with the password. POP3 and IMAP4 only.
    std::string signIn;
    // The SHA-256 of the one server certificate the account trusts, 64 lower-case hex digits
    // (certificatepin.h), kept as a "Pin=" line; empty: the trust store decides.
    std::string pin;
};

inline constexpr char kSecretKeyring[] = "keyring";

inline constexpr char kSignInOAuth2[] = "OAuth2";

inline bool UsesOAuthSignIn(const AccountRecord& r)
{
    return r.signIn == kSignInOAuth2;
}

// The account kinds and their codes in the account table.
inline constexpr char kMailTypePop3[] = "POP3";
inline constexpr char kMailTypeImap4[] = "IMAP4";
inline constexpr char kMailTypePortalpost[] = "Portalpost";
inline constexpr char kMailTypeExchange[] = "Exchange(MAPI)";

inline constexpr int kKindMail = 0;     // POP3 or IMAP4 (and any unknown kind)
inline constexpr int kKindWebMail = 1;  // "Portalpost"
inline constexpr int kKindExchange = 2; // "Exchange(MAPI)"

// Values derived when an account enters the table. They follow the stored texts
// literally: "yes" in lower case is off, and "7:05" reads as 7 h ("7:") and 0 min (":5"),
// because only the first and last two characters are read (as atoi would).
inline int DerivedPeriodMinutes(const AccountRecord& r)
{
    if (r.periodCheck != "Yes")
        return -1;
    return LeadingDecimal(r.period);
}

inline int DerivedSpecifiedSeconds(const AccountRecord& r)
{
    if (r.specifiedTimeCheck != "Yes")
        return -1;
    const std::string& t = r.specifiedTime;
    std::string last = t.size() >= 2 ? t.substr(t.size() - 2) : t;
    // Two characters give at most 99 h 99 min: no overflow.
    return LeadingDecimal(t.substr(0, 2)) * 3600 + LeadingDecimal(last) * 60;
}

inline int DerivedKind(const AccountRecord& r)
{
    if (r.mailType == kMailTypePortalpost)
        return kKindWebMail;
    if (r.mailType == kMailTypeExchange)
        return kKindExchange;
    return kKindMail;
}
