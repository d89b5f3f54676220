#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#if defined(Q_OS_WIN)
// The key handle as the Windows headers declare it, so that this header, which the loader's and the
// scanner's headers include, need not pull those in. The predefined keys come with
// platform/RegistryHives.h.
struct HKEY__;
typedef struct HKEY__ *HKEY;
#else
// Stand-ins for the predefined registry root keys of Windows, with the same names.
enum RegistryRootKey { HKEY_CURRENT_USER = 1, HKEY_LOCAL_MACHINE = 2 };
using HKEY = RegistryRootKey;
#endif

namespace platform {

// Value types as Windows numbers them.
enum RegistryValueType : quint32 {
    RegString = 1,
    RegExpandString = 2,
    RegBinary = 3,
    RegDword = 4,
    RegMultiString = 7,
    RegQword = 11,
};

// One value of a key, its data exactly as the registry holds it (text as UTF-16LE with its end mark).
struct RegistryValue
{
    QString name;
    quint32 type = 0;
    QByteArray data;

    // The text of a REG_SZ or REG_EXPAND_SZ value, up to its end mark; empty for other types.
    QString text() const;
    // A REG_DWORD or REG_QWORD value; false (and `number` untouched) for anything else.
    bool number(quint64 &number) const;
};

// The value called `name` (any letter case) among `values`, or null.
const RegistryValue *findRegistryValue(const QVector<RegistryValue> &values, const QString &name);

// What one key holds, read in the 64-bit view.
struct RegistryKeyContents
{
    enum Access { Missing, Denied, Read };
    Access access = Missing;
    QStringList subKeys;
    QVector<RegistryValue> values;

    // The value called `name` (any letter case), or null.
    const RegistryValue *value(const QString &name) const;
};

// The hive's name as it starts a settings path or a registry-export section: "HKEY_LOCAL_MACHINE" or
// "HKEY_CURRENT_USER".
QString registryHiveName(HKEY hive);

// Whether the key `subKey` below `hive` can be opened for reading.
bool registryKeyExists(HKEY hive, const QString &subKey);

// The text of the value `name` of the key at `settingsPath` ("HKEY_LOCAL_MACHINE\…"), as the settings
// class reads it in the 64-bit registry view; empty when there is none.
QString registryValue(const QString &settingsPath, const QString &name);

// The sub-keys and values of `subKey` below `hive`, opened for reading only.
RegistryKeyContents readRegistryKey(HKEY hive, const QString &subKey);

} // namespace platform
