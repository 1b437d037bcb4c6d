#pragma once

#include <openssl/bio.h>

// An OpenSSL BIO over a non-blocking socket that writes with MSG_NOSIGNAL, so that a TLS
// write to a server that has hung up fails with EPIPE instead of killing the process with
// SIGPIPE (OpenSSL's own socket BIO uses plain write()). The BIO never closes the descriptor:
// the owner (MailSocket) does. Returns nullptr when OpenSSL cannot allocate it.
BIO* NewSocketBio(int fd);
