#pragma once

#include "peercertificate.h"

struct x509_st;

// What a user sees of a server certificate before deciding on it (peercertificate.h): names made
// safe and bounded, validity in UTC, SHA-256 over the DER bytes. An empty value for nullptr
// or a certificate that cannot be encoded. Threads: any.
PeerCertificate DescribeCertificate(x509_st* certificate);
