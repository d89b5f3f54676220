#include "scan/FileHash.h"

#include <QFile>

#include <openssl/evp.h>

#include <memory>

QString fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential() || file.size() > kLargestHashedFile)
        return QString();
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return QString();
    // OpenSSL's SHA-256 uses the processor's SHA instructions where there are any.
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0)
            return QString();
        if (read == 0)
            break;
        total += read;
        if (total > kLargestHashedFile) // grown since it was measured
            return QString();
        EVP_DigestUpdate(context.get(), buffer.constData(), static_cast<size_t>(read));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return QString();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(length)).toHex());
}
