#pragma once

#include <string>
#include <string_view>

// The errors of an account that requires TLS when the server does not give it, in words a
// user can tell apart. Each stores the thread's last network error (neterror.h: category
// Tls, message "cannot connect to <peer>: ...") and returns false, so a client writes
// `return FailTls...(...)` or passes the error on to its report.
//
// `peer` is the transport's PeerName(); `command` the protocol's word for the upgrade
// ("STLS" for POP3, "STARTTLS" for IMAP4).

// The server does not offer the upgrade; nothing was sent in plain text.
bool FailStartTlsMissing(const std::string& peer, std::string_view command);
// The server answered the upgrade with a refusal (`serverLine`, quoted bounded).
bool FailStartTlsRefused(const std::string& peer, std::string_view command,
                         std::string_view serverLine);
// The server logged us in at once (IMAP PREAUTH), leaving no way to TLS before log-in.
bool FailLoginWithoutTls(const std::string& peer);
