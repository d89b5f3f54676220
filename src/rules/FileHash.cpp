#include "rules/FileHash.h"

#include "platform/FileSystem.h"

#include <QObject>

#include <openssl/evp.h>

#include <memory>

namespace {
QString fileDigest(const EVP_MD *algorithm, const QString &path, QString *error)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    QString reason;
    // OpenSSL's SHA code uses the processor's SHA instructions where there are any.
    const platform::ReadEnd end =
        !context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1
            ? platform::ReadEnd::Failed
            : platform::readRegularFile(
                  path, kLargestHashedFile,
                  [&context](const char *data, qint64 size) {
                      return EVP_DigestUpdate(context.get(), data, static_cast<size_t>(size)) == 1;
                  },
                  reason);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (end == platform::ReadEnd::Whole && EVP_DigestFinal_ex(context.get(), digest, &length) == 1)
        return QString::fromLatin1(
            QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(length)).toHex());
    if (error)
        *error = end == platform::ReadEnd::TooLarge ? QObject::tr("больше 1 ГиБ")
                 : reason.isEmpty()                 ? QStringLiteral("OpenSSL")
                                                    : reason;
    return QString();
}
} // namespace

QString fileSha256(const QString &path, QString *error)
{
    return fileDigest(EVP_sha256(), path, error);
}

QString fileSha1(const QString &path, QString *error)
{
    return fileDigest(EVP_sha1(), path, error);
}
