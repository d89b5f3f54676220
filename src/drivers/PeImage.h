#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

// Where the parts of a PE image lie that its Authenticode digest leaves out: the checksum, the
// certificate table's directory entry and the certificate table itself. Read from the player's bytes
// with every offset checked against the image's size.
struct PeLayout
{
    bool valid = false;
    QString problem;             // why the bytes are not a PE image, or what of them is out of place
    qint64 checksumOffset = 0;   // of the optional header's CheckSum field
    qint64 certEntryOffset = -1; // of the certificate table's directory entry; -1 when there is none
    qint64 certOffset = 0;       // the certificate table, a file offset
    qint64 certSize = 0;         // 0 when the image has no (usable) table
};

PeLayout readPeLayout(const QByteArray &image);

// The Authenticode digest of `image` with `algorithm`: the image hashed from its first byte to its
// end, or to the certificate table, leaving out the checksum and the table's directory entry. This
// is the digest signing tools and the public driver lists give; for a well-formed image it is the
// digest of the headers, the sections in file order and what follows them. Empty when not valid.
QByteArray authenticodeDigest(const QByteArray &image, const PeLayout &layout,
                              QCryptographicHash::Algorithm algorithm = QCryptographicHash::Sha256);

// The digest of `data` with `algorithm` (SHA-1 or SHA-2), computed by OpenSSL, which uses the
// processor's own instructions where it has them.
QByteArray digestOf(const QByteArray &data, QCryptographicHash::Algorithm algorithm);

// The certificate table's bytes (WIN_CERTIFICATE entries), empty when there is none.
QByteArray certificateTable(const QByteArray &image, const PeLayout &layout);
