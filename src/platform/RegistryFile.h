#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// A registry read from a text file in the Windows registry-export format: a
// "Windows Registry Editor Version 5.00" header, [HIVE\key\path] sections and "Name"="text" values
// (with \\ and \" escapes; @ names the default value). Values of other types are left out. Key paths
// compare without regard to case, as on Windows.
class RegistryFile
{
public:
    // Reads `path` (UTF-8, or UTF-16 with a byte-order mark as regedit writes). A missing or unreadable
    // file gives an empty registry.
    static RegistryFile load(const QString &path);
    static RegistryFile parse(const QString &text);

    // `key` is "HIVE\sub\key"; it exists when it or a key below it has a section. A hive always exists.
    bool keyExists(const QString &key) const;
    // Empty when the key or the value is missing.
    QString value(const QString &key, const QString &name) const;

private:
    static QString normalized(const QString &key);

    // Normalized key -> (lower-case value name -> text).
    QHash<QString, QHash<QString, QString>> keys;
};
