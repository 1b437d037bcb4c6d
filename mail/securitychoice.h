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

// The choice a connection follows. An account that trusts one certificate (Pin=) has seen its
// server speak TLS: without a stored choice it asks for TLS as a "TLS" (on the protocol's TLS
// port) or "STARTTLS" account does, so that a server that no longer offers STARTTLS, or a
// man in the middle that strips it, is refused instead of getting the password in plain text
// past a pin that was never looked at.
SecurityChoice ConnectionSecurity(std::string_view text, bool pinned, int port,
                                  int implicitTlsPort);
