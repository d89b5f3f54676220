#pragma once

#include "platform/Registry.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// A registry read from a text file in the Windows registry-export format: a
// "Windows Registry Editor Version 5.00" header, [HIVE\key\path] sections and the value forms regedit
// writes: "Name"="text" (with \\ and \" escapes; @ names the default value), dword:, hex:, hex(b):,
// hex(2):, hex(7): and any other hex(N): type, hex lists continued on the next line after a "\". Key
// paths and value names compare without regard to case, as on Windows.
class RegistryFile
{
public:
    // Reads `path` (UTF-8, or UTF-16 with a byte-order mark as regedit writes). A missing or unreadable
    // file gives an empty registry.
    static RegistryFile load(const QString &path);
    static RegistryFile parse(const QString &text);

    // `key` is "HIVE\sub\key"; it exists when it or a key below it has a section. A hive always exists.
    bool keyExists(const QString &key) const;
    // The text of a string value; empty when the key or the value is missing or holds another type.
    QString value(const QString &key, const QString &name) const;
    // Every key that has a section, as its section names it.
    QStringList keyPaths() const;
    // The key's direct sub-keys (named as their sections write them) and values, in file order.
    platform::RegistryKeyContents contents(const QString &key) const;

private:
    struct Key
    {
        QString path;
        QVector<platform::RegistryValue> values;
    };
    static QString normalized(const QString &key);

    QHash<QString, Key> keys; // by normalized path
};
