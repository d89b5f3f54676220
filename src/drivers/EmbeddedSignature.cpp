#include "drivers/EmbeddedSignature.h"

#include <QObject>
#include <QtEndian>

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

namespace {
constexpr quint16 kPkcsSignedData = 0x0002;

// One DER element at `*at` (ending before `end`): its tag, and where its content starts and ends.
// Moves `*at` past it.
bool nextElement(const unsigned char **at, const unsigned char *end, int &tag, const unsigned char *&content,
                 long &length)
{
    const unsigned char *cursor = *at;
    int objectClass = 0;
    const int flags = ASN1_get_object(&cursor, &length, &tag, &objectClass, end - *at);
    if ((flags & 0x80) || (flags & 0x21) == 0x21 || length > end - cursor)
        return false;
    content = cursor;
    *at = cursor + length;
    return true;
}

// SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptionalValue, messageDigest DigestInfo }
// DigestInfo ::= SEQUENCE { digestAlgorithm AlgorithmIdentifier, digest OCTET STRING }
bool readDigestInfo(const unsigned char *der, long size, int &nid, QByteArray &digest)
{
    const unsigned char *at = der;
    const unsigned char *end = der + size;
    int tag = 0;
    const unsigned char *content = nullptr;
    long length = 0;
    if (!nextElement(&at, end, tag, content, length) || tag != V_ASN1_SEQUENCE)
        return false;
    at = content;
    end = content + length;
    if (!nextElement(&at, end, tag, content, length) || tag != V_ASN1_SEQUENCE) // the data, skipped
        return false;
    if (!nextElement(&at, end, tag, content, length) || tag != V_ASN1_SEQUENCE)
        return false;
    const unsigned char *info = content;
    const unsigned char *infoEnd = content + length;
    if (!nextElement(&info, infoEnd, tag, content, length) || tag != V_ASN1_SEQUENCE)
        return false;
    const unsigned char *oid = content;
    ASN1_OBJECT *object = d2i_ASN1_OBJECT(nullptr, &oid, length);
    if (!object)
        return false;
    nid = OBJ_obj2nid(object);
    ASN1_OBJECT_free(object);
    if (!nextElement(&info, infoEnd, tag, content, length) || tag != V_ASN1_OCTET_STRING || length > 64)
        return false;
    digest = QByteArray(reinterpret_cast<const char *>(content), int(length));
    return true;
}

// SPC_INDIRECT_DATA_OBJID, which OpenSSL has no name for.
bool isIndirectData(const ASN1_OBJECT *type)
{
    char text[64];
    return type && OBJ_obj2txt(text, sizeof text, type, 1) > 0 && qstrcmp(text, "1.3.6.1.4.1.311.2.1.4") == 0;
}

QString commonName(X509 *certificate)
{
    X509_NAME *subject = X509_get_subject_name(certificate);
    const int index = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    ASN1_STRING *value = index >= 0 ? X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)) : nullptr;
    unsigned char *utf8 = nullptr;
    const int length = value ? ASN1_STRING_to_UTF8(&utf8, value) : -1;
    if (length < 0)
        return QString();
    const QString name = QString::fromUtf8(reinterpret_cast<const char *>(utf8), length).left(256);
    OPENSSL_free(utf8);
    return name;
}
} // namespace

EmbeddedSignature readEmbeddedSignature(const QByteArray &table)
{
    EmbeddedSignature signature;
    qint64 at = 0;
    while (at + 8 <= table.size()) {
        const quint32 length = qFromLittleEndian<quint32>(table.constData() + at);
        const quint16 type = qFromLittleEndian<quint16>(table.constData() + at + 6);
        if (length < 8 || length > table.size() - at) {
            signature.problem = QObject::tr("запись таблицы сертификатов обрезана");
            return signature;
        }
        if (type == kPkcsSignedData)
            break;
        // Entries are aligned to eight bytes.
        at += (qint64(length) + 7) & ~qint64(7);
    }
    if (at + 8 > table.size())
        return signature;
    signature.present = true;
    const quint32 length = qFromLittleEndian<quint32>(table.constData() + at);
    const auto *der = reinterpret_cast<const unsigned char *>(table.constData() + at + 8);
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> pkcs7(d2i_PKCS7(nullptr, &der, long(length) - 8), PKCS7_free);
    if (!pkcs7 || !PKCS7_type_is_signed(pkcs7.get()) || !pkcs7->d.sign || !pkcs7->d.sign->contents) {
        signature.problem = QObject::tr("подпись не разбирается");
        return signature;
    }
    const PKCS7 *contents = pkcs7->d.sign->contents;
    const ASN1_TYPE *other = isIndirectData(contents->type) ? contents->d.other : nullptr;
    int nid = NID_undef;
    if (!other || other->type != V_ASN1_SEQUENCE ||
        !readDigestInfo(other->value.sequence->data, other->value.sequence->length, nid, signature.signedDigest)) {
        signature.problem = QObject::tr("в подписи нет дайджеста файла");
        return signature;
    }
    switch (nid) {
    case NID_sha1:
        signature.algorithm = QCryptographicHash::Sha1;
        break;
    case NID_sha256:
        signature.algorithm = QCryptographicHash::Sha256;
        break;
    case NID_sha384:
        signature.algorithm = QCryptographicHash::Sha384;
        break;
    case NID_sha512:
        signature.algorithm = QCryptographicHash::Sha512;
        break;
    default:
        signature.problem = QObject::tr("неизвестный алгоритм дайджеста");
        signature.signedDigest.clear();
        return signature;
    }
    STACK_OF(X509) *signers = PKCS7_get0_signers(pkcs7.get(), nullptr, 0);
    if (signers && sk_X509_num(signers) > 0)
        signature.signer = commonName(sk_X509_value(signers, 0));
    sk_X509_free(signers);
    // A signer whose certificate is not in the message leaves its reason behind: not ours to keep.
    ERR_clear_error();
    return signature;
}
