#include "net/sslcertinfo.h"

#include "net/sslhandles.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>

namespace {

std::string NameText(const X509_NAME* name)
{
    if (name == nullptr)
        return {};
    TBioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio)
        return {};
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return len > 0 ? std::string(data, static_cast<std::size_t>(len)) : std::string();
}

std::string TimeText(const ASN1_TIME* t)
{
    std::tm tm{};
    if (t == nullptr || ASN1_TIME_to_tm(t, &tm) != 1)
        return {};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

} // namespace

TSslCertInfo DescribeCertificate(X509* cert)
{
    TSslCertInfo info;
    if (cert == nullptr)
        return info;
    info.Present = true;
    info.Subject = NameText(X509_get_subject_name(cert));
    info.Issuer = NameText(X509_get_issuer_name(cert));
    info.ValidFrom = TimeText(X509_get0_notBefore(cert));
    info.ValidTo = TimeText(X509_get0_notAfter(cert));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &len) == 1) {
        static const char hex[] = "0123456789ABCDEF";
        for (unsigned int i = 0; i < len; ++i) {
            if (i > 0)
                info.Fingerprint += ':';
            info.Fingerprint += hex[digest[i] >> 4];
            info.Fingerprint += hex[digest[i] & 0x0F];
        }
    }
    info.SelfSigned = (X509_get_extension_flags(cert) & EXFLAG_SS) != 0;
    return info;
}

std::string CertificateErrorText(long code)
{
    switch (code) {
    case X509_V_OK:
        return "ok";
    case X509_V_ERR_HOSTNAME_MISMATCH:
        return "the certificate is not for this host name";
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "the certificate is not for this address";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "the certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "the certificate is not yet valid";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "the certificate is self-signed";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "the certificate chain ends in an untrusted self-signed certificate";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        return "the certificate's issuer is not a trusted authority";
    default:
        break;
    }
    const char* text = X509_verify_cert_error_string(code);
    return text != nullptr ? text : "certificate verification failed";
}
