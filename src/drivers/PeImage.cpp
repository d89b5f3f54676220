#include "drivers/PeImage.h"

#include <QObject>
#include <QtEndian>

#include <openssl/evp.h>

#include <memory>

namespace {
quint32 read32(const QByteArray &image, qint64 offset)
{
    return qFromLittleEndian<quint32>(image.constData() + offset);
}
quint16 read16(const QByteArray &image, qint64 offset)
{
    return qFromLittleEndian<quint16>(image.constData() + offset);
}
constexpr quint16 kPe32 = 0x10b;
constexpr quint16 kPe32Plus = 0x20b;
constexpr int kCertificateDirectory = 4;

const EVP_MD *openSslDigest(QCryptographicHash::Algorithm algorithm)
{
    switch (algorithm) {
    case QCryptographicHash::Sha1:
        return EVP_sha1();
    case QCryptographicHash::Sha384:
        return EVP_sha384();
    case QCryptographicHash::Sha512:
        return EVP_sha512();
    default:
        return EVP_sha256();
    }
}

// Pieces of one image hashed as one stream.
class Digest
{
public:
    explicit Digest(QCryptographicHash::Algorithm algorithm) : context(EVP_MD_CTX_new(), EVP_MD_CTX_free)
    {
        EVP_DigestInit_ex(context.get(), openSslDigest(algorithm), nullptr);
    }
    void add(const char *data, qint64 size) { EVP_DigestUpdate(context.get(), data, std::size_t(size)); }
    QByteArray result()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_DigestFinal_ex(context.get(), digest, &size);
        return QByteArray(reinterpret_cast<const char *>(digest), int(size));
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context;
};
} // namespace

QByteArray digestOf(const QByteArray &data, QCryptographicHash::Algorithm algorithm)
{
    Digest digest(algorithm);
    digest.add(data.constData(), data.size());
    return digest.result();
}

PeLayout readPeLayout(const QByteArray &image)
{
    PeLayout layout;
    const qint64 size = image.size();
    if (size < 0x40 || image.at(0) != 'M' || image.at(1) != 'Z') {
        layout.problem = QObject::tr("не PE-файл");
        return layout;
    }
    const qint64 peOffset = read32(image, 0x3c);
    // "PE\0\0", the 20-byte file header and the optional header's magic.
    if (peOffset > size - 26 || read32(image, peOffset) != 0x00004550) {
        layout.problem = QObject::tr("не PE-файл");
        return layout;
    }
    const qint64 optional = peOffset + 24;
    const quint16 optionalSize = read16(image, peOffset + 20);
    const quint16 magic = read16(image, optional);
    if (magic != kPe32 && magic != kPe32Plus) {
        layout.problem = QObject::tr("неизвестный вид PE-заголовка");
        return layout;
    }
    const qint64 directoryCountOffset = optional + (magic == kPe32Plus ? 108 : 92);
    if (directoryCountOffset + 4 > size || directoryCountOffset + 4 > optional + optionalSize) {
        layout.problem = QObject::tr("PE-заголовок обрезан");
        return layout;
    }
    layout.valid = true;
    layout.checksumOffset = optional + 64;
    const quint32 directories = read32(image, directoryCountOffset);
    const qint64 entry = directoryCountOffset + 4 + qint64(kCertificateDirectory) * 8;
    if (directories <= kCertificateDirectory || entry + 8 > size || entry + 8 > optional + optionalSize)
        return layout;
    layout.certEntryOffset = entry;
    const qint64 offset = read32(image, entry);
    const qint64 tableSize = read32(image, entry + 4);
    if (tableSize == 0)
        return layout;
    // A table that does not end the file, or lies inside the headers, is not one Windows would take.
    if (offset < entry + 8 || offset + tableSize != size) {
        layout.problem = QObject::tr("таблица сертификатов вне своего места");
        return layout;
    }
    layout.certOffset = offset;
    layout.certSize = tableSize;
    return layout;
}

QByteArray authenticodeDigest(const QByteArray &image, const PeLayout &layout, QCryptographicHash::Algorithm algorithm)
{
    if (!layout.valid)
        return QByteArray();
    Digest hash(algorithm);
    const char *data = image.constData();
    const qint64 end = layout.certSize > 0 ? layout.certOffset : image.size();
    hash.add(data, layout.checksumOffset);
    if (layout.certEntryOffset < 0) {
        hash.add(data + layout.checksumOffset + 4, end - layout.checksumOffset - 4);
    } else {
        hash.add(data + layout.checksumOffset + 4, layout.certEntryOffset - layout.checksumOffset - 4);
        hash.add(data + layout.certEntryOffset + 8, end - layout.certEntryOffset - 8);
    }
    return hash.result();
}

QByteArray certificateTable(const QByteArray &image, const PeLayout &layout)
{
    return layout.certSize > 0 ? image.mid(int(layout.certOffset), int(layout.certSize)) : QByteArray();
}
