#pragma once

#include <cstddef>
#include <string>

// What a user needs to decide whether to trust a server's certificate: who it names, who
// signed it, when it is valid and its SHA-256 fingerprint (certificatepin.h), which is also
// what an account keeps when the user trusts it.
//
// The transport describes the certificates it refuses (DescribeCertificate,
// certificatedescription.h); a check's summary carries those details to the desktop. The
// texts come from the server: they are one line each, control bytes escaped, and bounded
// (kMaxNameLength), so they can go into a dialog, a notice or a terminal as they are.
// A plain value; copy it freely between threads.
struct PeerCertificate {
    static constexpr std::size_t kMaxNameLength = 400;

    std::string subject;   // "CN=mail.example.com,O=Example"
    std::string issuer;    // the same for a self-signed certificate
    std::string notBefore; // "2026-12-08 01:54:56 UTC"
    std::string notAfter;
    std::string sha256; // 64 lower-case hex digits over the DER bytes; empty: no certificate
    // Refused because the account trusts another certificate (the server's certificate
    // changed), not because no authority vouches for it.
    bool changed = false;

    bool Empty() const { return sha256.empty(); }
};
