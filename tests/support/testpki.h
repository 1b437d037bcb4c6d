#pragma once

#include <string>
#include <vector>

// A throw-away certificate authority for TLS tests, made in-process with OpenSSL: a CA, and
// server certificates it signs (or that sign themselves) for chosen names, valid or expired.
// Keys are P-256, so making them costs milliseconds. Files are PEM in the folder given.
//
// Trust the CA in a test with ScopedEnv("SSL_CERT_FILE", pki.CaFile()).
class TestPki
{
public:
    struct Cert {
        std::string certFile;
        std::string keyFile;
    };
    struct Names {
        std::vector<std::string> dns; // subjectAltName DNS entries
        std::vector<std::string> ip;  // subjectAltName IP entries
    };

    // Makes the CA ("ca.pem", "ca.key") in `dir`, which must exist. Check Ok().
    explicit TestPki(std::string dir, const std::string& caName = "Postwatch Test CA");
    ~TestPki();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    bool Ok() const { return ca_ != nullptr; }
    const std::string& CaFile() const { return caFile_; }

    // A server certificate signed by the CA, valid from now + notBefore to now + notAfter
    // (seconds; negative values lie in the past). Empty files names on failure.
    Cert Issue(const std::string& fileStem, const Names& names, long notBefore = -3600,
               long notAfter = 30L * 24 * 3600);
    // A certificate that signs itself (no CA will vouch for it).
    Cert SelfSigned(const std::string& fileStem, const Names& names);

    // The usual server names: DNS:localhost, IP:127.0.0.1, IP:::1.
    static Names Localhost();

private:
    std::string dir_;
    std::string caFile_;
    void* ca_ = nullptr;    // X509*
    void* caKey_ = nullptr; // EVP_PKEY*
    long serial_ = 1;
};
