#include "platform/RegistryHives.h"

#include <QtEndian>

namespace platform {

QString registryHiveName(HKEY hive)
{
    return hive == HKEY_LOCAL_MACHINE ? QStringLiteral("HKEY_LOCAL_MACHINE") : QStringLiteral("HKEY_CURRENT_USER");
}

QString RegistryValue::text() const
{
    if (type != RegString && type != RegExpandString)
        return QString();
    const auto *units = reinterpret_cast<const char16_t *>(data.constData());
    int length = 0;
    const int size = data.size() / 2;
    while (length < size && qFromLittleEndian<quint16>(units + length) != 0)
        ++length;
    QString result(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        result[i] = QChar(qFromLittleEndian<quint16>(units + i));
    return result;
}

bool RegistryValue::number(quint64 &number) const
{
    if (type == RegDword && data.size() == 4) {
        number = qFromLittleEndian<quint32>(data.constData());
        return true;
    }
    if (type == RegQword && data.size() == 8) {
        number = qFromLittleEndian<quint64>(data.constData());
        return true;
    }
    return false;
}

const RegistryValue *findRegistryValue(const QVector<RegistryValue> &values, const QString &name)
{
    for (const RegistryValue &candidate : values) {
        if (candidate.name.compare(name, Qt::CaseInsensitive) == 0)
            return &candidate;
    }
    return nullptr;
}

const RegistryValue *RegistryKeyContents::value(const QString &name) const
{
    return findRegistryValue(values, name);
}

} // namespace platform
