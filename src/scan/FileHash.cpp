#include "scan/FileHash.h"

#include "platform/FileSystem.h"

#include <QFile>
#include <QObject>

#include <openssl/evp.h>

#include <memory>

QString fileSha256(const QString &path, QString *error)
{
    QString reason;
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return QString();
    };
    QFile file(path);
    if (!platform::openRegularFile(file, reason))
        return fail(reason);
    if (file.size() > kLargestHashedFile)
        return fail(QObject::tr("больше 1 ГиБ"));
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return fail(QStringLiteral("OpenSSL"));
    // OpenSSL's SHA-256 uses the processor's SHA instructions where there are any.
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0)
            return fail(file.errorString());
        if (read == 0)
            break;
        total += read;
        if (total > kLargestHashedFile) // grown since it was measured
            return fail(QObject::tr("больше 1 ГиБ"));
        EVP_DigestUpdate(context.get(), buffer.constData(), static_cast<size_t>(read));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return fail(QStringLiteral("OpenSSL"));
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(length)).toHex());
}
