#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// One detection rule of the server's detection data: either folders plus a file-name pattern, or
// registry keys below HKEY_LOCAL_MACHINE, with the text and severity of its hits.
struct DetectionRule
{
    QString desc;
    QStringList roots;
    QString filename;
    qint32 level = 0;
    bool registry = false;

    // Never fails: a missing member or one of another type takes its default.
    static DetectionRule fromJson(const QJsonObject &object);
};
