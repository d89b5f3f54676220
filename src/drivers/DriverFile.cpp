#include "drivers/DriverFile.h"

#include "drivers/EmbeddedSignature.h"
#include "drivers/PeImage.h"
#include "platform/CodeSignature.h"
#include "platform/FileSystem.h"

#include <QFileInfo>
#include <QObject>

namespace {
QString hexDigest(const QByteArray &data, QCryptographicHash::Algorithm algorithm)
{
    return QString::fromLatin1(digestOf(data, algorithm).toHex());
}

// What the file's own certificate table says, where no system verifies it.
void readOwnSignature(const QByteArray &image, const PeLayout &layout, DriverFileFacts &facts)
{
    const EmbeddedSignature embedded = readEmbeddedSignature(certificateTable(image, layout));
    if (!embedded.present)
        return;
    facts.signer = embedded.signer;
    if (embedded.signedDigest.isEmpty()) {
        facts.signature = SignatureVerdict::Broken;
        facts.signatureReason = embedded.problem;
    } else if (embedded.signedDigest != authenticodeDigest(image, layout, embedded.algorithm)) {
        facts.signature = SignatureVerdict::Broken;
        facts.signatureReason = QObject::tr("подписанный дайджест не совпадает с файлом");
    } else {
        facts.signature = SignatureVerdict::Embedded;
    }
}
} // namespace

DriverFileFacts examineDriverFile(const QString &path)
{
    DriverFileFacts facts;
    const QFileInfo info(path);
    facts.there = info.exists() || info.isSymLink();
    if (!facts.there)
        return facts;
    QByteArray image;
    const platform::ReadEnd end = platform::readWholeFile(path, kLargestDriverFile, image, facts.problem);
    if (end == platform::ReadEnd::TooLarge)
        facts.problem = QObject::tr("больше 64 МиБ");
    if (end != platform::ReadEnd::Whole)
        return facts;
    facts.read = true;
    facts.sha256 = hexDigest(image, QCryptographicHash::Sha256);
    facts.sha1 = hexDigest(image, QCryptographicHash::Sha1);
    const PeLayout layout = readPeLayout(image);
    facts.authenticode = QString::fromLatin1(authenticodeDigest(image, layout).toHex());
    if (!layout.valid)
        facts.problem = layout.problem;
    const platform::SystemSignature system = platform::systemSignature(path);
    if (system.verdict == platform::SystemSignature::Verdict::NotAsked) {
        if (layout.valid)
            readOwnSignature(image, layout, facts);
        return facts;
    }
    facts.trustAsked = true;
    facts.signer = system.signer;
    facts.signatureReason = system.reason;
    switch (system.verdict) {
    case platform::SystemSignature::Verdict::Trusted:
        facts.signature = SignatureVerdict::Trusted;
        break;
    case platform::SystemSignature::Verdict::Unsigned:
        facts.signature = SignatureVerdict::Unsigned;
        facts.signatureReason = QObject::tr("не подписан");
        break;
    case platform::SystemSignature::Verdict::Broken:
        facts.signature = SignatureVerdict::Broken;
        break;
    case platform::SystemSignature::Verdict::Untrusted:
    case platform::SystemSignature::Verdict::NotAsked:
        facts.signature = SignatureVerdict::Untrusted;
        break;
    }
    return facts;
}
