#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

// The Authenticode signature a PE image carries in its certificate table, read with OpenSSL: who
// signed, and which digest of the image the signature vouches for. Its chain is not judged here.
struct EmbeddedSignature
{
    bool present = false;
    QString signer;          // the signing certificate's subject CN
    QByteArray signedDigest; // the digest in the signed SpcIndirectDataContent
    QCryptographicHash::Algorithm algorithm = QCryptographicHash::Sha256;
    QString problem; // why a table that is there could not be read
};

// Reads the first PKCS#7 signed-data entry of `table` (WIN_CERTIFICATE entries, as the image holds
// them). Not present when the table is empty or holds none.
EmbeddedSignature readEmbeddedSignature(const QByteArray &table);
