#pragma once

#include <QString>

// Files larger than this are not hashed: a cheat's loader is small, and a check must not spend
// minutes reading a game's archives.
constexpr qint64 kLargestHashedFile = 64 * 1024 * 1024;

// The SHA-256 of the file at `path` as 64 lower-case hex digits; empty when it is not a file, cannot
// be read or is larger than kLargestHashedFile. The file is opened for reading only.
QString fileSha256(const QString &path);
