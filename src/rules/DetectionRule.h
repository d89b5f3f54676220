#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// One detection rule of the server's detection data: either folders plus a file-name pattern, or
// registry keys below HKEY_LOCAL_MACHINE, with the text and severity of its hits; a file rule may
// also name the digests of the files it is after.
struct DetectionRule
{
    QString desc;
    QStringList roots;
    QString filename;
    qint32 level = 0;
    bool registry = false;
    // File rules only: the pattern is also matched against the programs the execution traces name.
    bool traces = false;
    // File rules only: SHA-256 digests (lower-case hex) that make a file a hit whatever its name.
    QStringList sha256;
    // File rules only: SHA-1 digests (lower-case hex), matched like SHA-256 ones and against the SHA-1
    // Amcache recorded.
    QStringList sha1;

    // Never fails: a missing member or one of another type takes its default.
    static DetectionRule fromJson(const QJsonObject &object);
};
