#pragma once

#include <string_view>

// The transport security an account asks for ("Security=" in Account.inf).
enum class SecurityChoice {
    Default,  // no choice stored: implicit TLS on the protocol's TLS port, else STARTTLS when
              // the server offers it, else plain text (what older accounts had)
    None,     // "None": plain text, never upgraded
    StartTls, // "STARTTLS": plain connect, then STLS / STARTTLS or fail before any credential
    Tls,      // "TLS": TLS from the first byte
};

// "None", "STARTTLS" and "TLS" (any case, surrounding blanks ignored); anything else, the
// empty text included, is Default.
SecurityChoice ParseSecurityChoice(std::string_view text);

// True when the check must connect with TLS from the first byte: the choice is Tls, or no
// choice is stored and `port` is the protocol's implicit-TLS port (995 POP3S, 993 IMAPS).
bool UsesImplicitTls(SecurityChoice choice, int port, int implicitTlsPort);
