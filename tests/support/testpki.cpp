#include "testpki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace
{

bool AddExt(X509* cert, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (ext == nullptr)
        return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

std::string SanText(const TestPki::Names& names)
{
    std::string san;
    for (const auto& d : names.dns)
        san += (san.empty() ? "" : ",") + std::string("DNS:") + d;
    for (const auto& i : names.ip)
        san += (san.empty() ? "" : ",") + std::string("IP:") + i;
    return san;
}

// Builds and signs a certificate; `issuer`/`issuerKey` null means self-signed.
X509* MakeCert(EVP_PKEY* key, const std::string& cn, X509* issuer, EVP_PKEY* issuerKey, long serial,
               long notBefore, long notAfter, bool isCa, const TestPki::Names& names)
{
    X509* cert = X509_new();
    if (cert == nullptr)
        return nullptr;
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), notBefore);
    X509_gmtime_adj(X509_getm_notAfter(cert), notAfter);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer != nullptr ? issuer : cert;
    bool ok = AddExt(cert, signer, NID_subject_key_identifier, "hash");
    ok = ok && AddExt(cert, signer, NID_authority_key_identifier, "keyid:always");
    if (isCa) {
        ok = ok && AddExt(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        ok = ok && AddExt(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && AddExt(cert, signer, NID_basic_constraints, "CA:FALSE");
        ok = ok && AddExt(cert, signer, NID_ext_key_usage, "serverAuth");
        std::string san = SanText(names);
        if (!san.empty())
            ok = ok && AddExt(cert, signer, NID_subject_alt_name, san);
    }
    ok = ok && X509_sign(cert, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0;
    if (!ok) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

bool WritePem(const std::string& certFile, X509* cert, const std::string& keyFile, EVP_PKEY* key)
{
    BIO* out = BIO_new_file(certFile.c_str(), "w");
    bool ok = out != nullptr && PEM_write_bio_X509(out, cert) == 1;
    BIO_free(out);
    out = BIO_new_file(keyFile.c_str(), "w");
    ok = ok && out != nullptr &&
         PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    BIO_free(out);
    return ok;
}

} // namespace

TestPki::TestPki(std::string dir, const std::string& caName) : dir_(std::move(dir))
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (key == nullptr)
        return;
    X509* ca =
        MakeCert(key, caName, nullptr, nullptr, serial_++, -3600, 365L * 24 * 3600, true, {});
    caFile_ = dir_ + "/ca.pem";
    if (ca == nullptr || !WritePem(caFile_, ca, dir_ + "/ca.key", key)) {
        X509_free(ca);
        EVP_PKEY_free(key);
        caFile_.clear();
        return;
    }
    ca_ = ca;
    caKey_ = key;
}

TestPki::~TestPki()
{
    X509_free(static_cast<X509*>(ca_));
    EVP_PKEY_free(static_cast<EVP_PKEY*>(caKey_));
}

TestPki::Names TestPki::Localhost()
{
    return Names{{"localhost"}, {"127.0.0.1", "::1"}};
}

TestPki::Cert TestPki::Issue(const std::string& fileStem, const Names& names, long notBefore,
                             long notAfter)
{
    if (!Ok())
        return {};
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (key == nullptr)
        return {};
    std::string cn = names.dns.empty() ? fileStem : names.dns.front();
    X509* cert = MakeCert(key, cn, static_cast<X509*>(ca_), static_cast<EVP_PKEY*>(caKey_),
                          serial_++, notBefore, notAfter, false, names);
    Cert files{dir_ + "/" + fileStem + ".pem", dir_ + "/" + fileStem + ".key"};
    bool ok = cert != nullptr && WritePem(files.certFile, cert, files.keyFile, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok ? files : Cert{};
}

TestPki::Cert TestPki::SelfSigned(const std::string& fileStem, const Names& names)
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (key == nullptr)
        return {};
    std::string cn = names.dns.empty() ? fileStem : names.dns.front();
    X509* cert =
        MakeCert(key, cn, nullptr, nullptr, serial_++, -3600, 30L * 24 * 3600, false, names);
    Cert files{dir_ + "/" + fileStem + ".pem", dir_ + "/" + fileStem + ".key"};
    bool ok = cert != nullptr && WritePem(files.certFile, cert, files.keyFile, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok ? files : Cert{};
}
