#include "drivers/IntegrityState.h"

#include "platform/Registry.h"
#include "platform/RegistryHives.h"

#include <QObject>

namespace {
constexpr quint32 kIntegrityEnabled = 0x01;
constexpr quint32 kTestSigning = 0x02;
constexpr quint32 kDebugMode = 0x80;
constexpr quint32 kMemoryIntegrity = 0x400;

const char *const kBootObjects = "BCD00000000\\Objects";
const char *const kBootManager = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
constexpr quint32 kWindowsLoader = 0x10200003;
// More objects than a machine with many systems has: the rest is not read.
constexpr int kLargestBootObjects = 256;

// The boot settings that let an unsigned driver load, by their element types.
const struct
{
    const char *element;
    const char *setting;
} kBootSettings[] = {
    {"16000049", "тестовая подпись драйверов (testsigning)"},
    {"16000048", "отключение проверки целостности (nointegritychecks)"},
    {"260000a0", "отладчик ядра (debug)"},
};

QString element(const QString &object, const char *type)
{
    return QStringLiteral("%1\\%2\\Elements\\%3").arg(QLatin1String(kBootObjects), object, QLatin1String(type));
}

// A boolean element is one byte (or a number); set when it is not zero.
bool isSet(const platform::RegistryKeyContents &key)
{
    const platform::RegistryValue *value = key.value(QStringLiteral("Element"));
    if (!value)
        return false;
    quint64 number = 0;
    if (value->number(number))
        return number != 0;
    return !value->data.isEmpty() && value->data.at(0) != 0;
}

QString text(const platform::RegistryKeyContents &key)
{
    const platform::RegistryValue *value = key.value(QStringLiteral("Element"));
    return value ? value->text() : QString();
}
} // namespace

QVector<DriverLine> codeIntegrityLines(const platform::KernelAnswer &options)
{
    if (!options.known)
        return {{DriverLineLevel::NotRead,
                 QObject::tr("Не удалось узнать состояние проверки подписи драйверов: %1").arg(options.why)}};
    QVector<DriverLine> lines;
    if (!(options.value & kIntegrityEnabled))
        lines.append({DriverLineLevel::Red, QObject::tr("Проверка подписи драйверов отключена")});
    if (options.value & kTestSigning)
        lines.append({DriverLineLevel::Red, QObject::tr("Включён тестовый режим подписи драйверов")});
    if (options.value & kDebugMode)
        lines.append({DriverLineLevel::Red, QObject::tr("Включён режим отладки подписи")});
    lines.append({DriverLineLevel::Plain, (options.value & kMemoryIntegrity)
                                              ? QObject::tr("Защита целостности памяти: включена")
                                              : QObject::tr("Защита целостности памяти: выключена")});
    return lines;
}

QVector<DriverLine> kernelDebuggerLines(const platform::KernelAnswer &debugger)
{
    if (!debugger.known)
        return {{DriverLineLevel::NotRead,
                 QObject::tr("Не удалось узнать, включён ли отладчик ядра: %1").arg(debugger.why)}};
    if (debugger.value != 0)
        return {{DriverLineLevel::Red, QObject::tr("Отладчик ядра включён")}};
    return {};
}

QVector<DriverLine> bootConfigurationLines()
{
    const platform::RegistryKeyContents objects =
        platform::readRegistryKey(HKEY_LOCAL_MACHINE, QLatin1String(kBootObjects));
    if (objects.access == platform::RegistryKeyContents::Denied)
        return {
            {DriverLineLevel::NotRead, QObject::tr("Нет прав на чтение конфигурации загрузки (HKLM\\BCD00000000)")}};
    if (objects.access == platform::RegistryKeyContents::Missing)
        return {
            {DriverLineLevel::NotRead, QObject::tr("Конфигурация загрузки не найдена в реестре (HKLM\\BCD00000000)")}};
    const QString defaultEntry =
        text(platform::readRegistryKey(HKEY_LOCAL_MACHINE, element(QLatin1String(kBootManager), "23000003")));
    QVector<DriverLine> lines;
    if (objects.subKeys.size() > kLargestBootObjects)
        lines.append({DriverLineLevel::NotRead, QObject::tr("Конфигурация загрузки: прочитаны первые %1 объектов из %2")
                                                    .arg(kLargestBootObjects)
                                                    .arg(objects.subKeys.size())});
    for (const QString &object : objects.subKeys.mid(0, kLargestBootObjects)) {
        // A loader's type; an object without one is read too, so that a removed type hides nothing.
        const platform::RegistryKeyContents description = platform::readRegistryKey(
            HKEY_LOCAL_MACHINE, QStringLiteral("%1\\%2\\Description").arg(QLatin1String(kBootObjects), object));
        const platform::RegistryValue *type = description.value(QStringLiteral("Type"));
        quint64 typeNumber = 0;
        if (type && type->number(typeNumber) && typeNumber != kWindowsLoader)
            continue;
        const bool isDefault = object.compare(defaultEntry, Qt::CaseInsensitive) == 0;
        QString name = text(platform::readRegistryKey(HKEY_LOCAL_MACHINE, element(object, "12000004")));
        if (name.isEmpty())
            name = object;
        for (const auto &setting : kBootSettings) {
            if (!isSet(platform::readRegistryKey(HKEY_LOCAL_MACHINE, element(object, setting.element))))
                continue;
            if (isDefault)
                lines.append({DriverLineLevel::Red,
                              QObject::tr("Конфигурация загрузки разрешает: %1").arg(QObject::tr(setting.setting))});
            else
                lines.append({DriverLineLevel::Orange, QObject::tr("Запись загрузки «%1» разрешает: %2")
                                                           .arg(name.left(128), QObject::tr(setting.setting))});
        }
    }
    return lines;
}

QVector<DriverLine> blocklistLines()
{
    const platform::RegistryKeyContents config =
        platform::readRegistryKey(HKEY_LOCAL_MACHINE, QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\CI\\Config"));
    if (config.access == platform::RegistryKeyContents::Denied)
        return {{DriverLineLevel::NotRead, QObject::tr("Нет прав на чтение настроек проверки подписи "
                                                       "(HKLM\\SYSTEM\\CurrentControlSet\\Control\\CI\\Config)")}};
    const platform::RegistryValue *enabled = config.value(QStringLiteral("VulnerableDriverBlocklistEnable"));
    quint64 number = 1;
    if (enabled && enabled->number(number) && number == 0)
        return {{DriverLineLevel::Orange, QObject::tr("Список блокировки уязвимых драйверов выключен")}};
    return {};
}
