#pragma once

#include <QString>

// Files larger than this are neither hashed nor scanned, and each is named: past it, a check would
// spend minutes on one planted file.
constexpr qint64 kLargestHashedFile = qint64(1) << 30;

// The SHA-256 of the file at `path` as 64 lower-case hex digits; empty, with the reason in `error`
// when one is given, when it is not a regular file, cannot be read or is larger than
// kLargestHashedFile. The file is opened for reading only, and a FIFO or device is never waited on.
QString fileSha256(const QString &path, QString *error = nullptr);

// The same with SHA-1: 40 lower-case hex digits.
QString fileSha1(const QString &path, QString *error = nullptr);
