#include "certificatedescription.h"

#include <ctime>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace
{

std::string BioText(BIO* bio)
{
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 && data != nullptr ? std::string(data, static_cast<std::size_t>(size))
                                       : std::string();
}

// RFC 2253 order and escaping, but UTF-8 kept as it is (a name in another script stays
// readable); control bytes are escaped by OpenSSL, and anything that still is one is replaced.
std::string NameText(const X509_NAME* name)
{
    std::string text;
    if (BIO* bio = BIO_new(BIO_s_mem())) {
        if (X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) >= 0)
            text = BioText(bio);
        BIO_free(bio);
    }
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    if (text.size() > PeerCertificate::kMaxNameLength)
        text = text.substr(0, PeerCertificate::kMaxNameLength) + "...";
    return text;
}

std::string TimeText(const ASN1_TIME* time)
{
    struct tm parts {
    };
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return "?";
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
        return "?";
    return text;
}

} // namespace

PeerCertificate DescribeCertificate(x509_st* certificate)
{
    PeerCertificate out;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1 ||
        length != 32)
        return out;
    static const char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < length; ++i) {
        out.sha256 += kHex[digest[i] >> 4];
        out.sha256 += kHex[digest[i] & 0x0f];
    }
    out.subject = NameText(X509_get_subject_name(certificate));
    out.issuer = NameText(X509_get_issuer_name(certificate));
    out.notBefore = TimeText(X509_get0_notBefore(certificate));
    out.notAfter = TimeText(X509_get0_notAfter(certificate));
    return out;
}
