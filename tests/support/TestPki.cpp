#include "TestPki.h"

#include <QFile>
#include <QSslConfiguration>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

bool addExtension(X509 *certificate, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    const bool added = extension && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A certificate for `key` named `commonName`, signed by `issuer` with `issuerKey` (itself when null).
Certificate makeCertificate(EVP_PKEY *key, const char *commonName, X509 *issuer, EVP_PKEY *issuerKey, long serial)
{
    Certificate certificate(X509_new(), X509_free);
    X509 *cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 365L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(commonName), -1, -1,
                               0);
    X509 *signer = issuer ? issuer : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    const bool extended = issuer ? addExtension(cert, signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
                                       addExtension(cert, signer, NID_basic_constraints, "CA:FALSE") &&
                                       addExtension(cert, signer, NID_ext_key_usage, "serverAuth")
                                 : addExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE") &&
                                       addExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
                                       addExtension(cert, signer, NID_subject_key_identifier, "hash");
    if (!extended || X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        certificate.reset();
    return certificate;
}

bool writePem(const QString &path, X509 *certificate, EVP_PKEY *key)
{
    BIO *file = BIO_new_file(QFile::encodeName(path).constData(), "w");
    if (!file)
        return false;
    const bool written = certificate ? PEM_write_bio_X509(file, certificate) == 1
                                     : PEM_write_bio_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    BIO_free(file);
    return written;
}
} // namespace

TestPki::TestPki()
{
    // Made in the process with OpenSSL, so that it works alike on every system the tests run on.
    Key caKey(EVP_EC_gen("prime256v1"), EVP_PKEY_free);
    Key serverKey(EVP_EC_gen("prime256v1"), EVP_PKEY_free);
    if (!caKey || !serverKey)
        return;
    const Certificate ca = makeCertificate(caKey.get(), "Vigilor throwaway CA", nullptr, nullptr, 1);
    if (!ca)
        return;
    const Certificate server = makeCertificate(serverKey.get(), "127.0.0.1", ca.get(), caKey.get(), 2);
    valid = server && writePem(caPath(), ca.get(), nullptr) && writePem(certPath(), server.get(), nullptr) &&
            writePem(keyPath(), nullptr, serverKey.get());
}

QSslCertificate TestPki::ca() const
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(caPath());
    return certificates.isEmpty() ? QSslCertificate() : certificates.first();
}

void TestPki::trustInThisProcess() const
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates({ca()});
    QSslConfiguration::setDefaultConfiguration(config);
}
