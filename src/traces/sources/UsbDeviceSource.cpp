#include "traces/sources/UsbDeviceSource.h"

#include "platform/Registry.h"
#include "traces/TraceDecoders.h"

namespace {
const char *const kStorageKey = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";
const char *const kDeviceProperties = "Properties\\{83da6326-97a6-4088-9453-a1923f573b29}";
constexpr quint32 kFileTimeProperty = 0xFFFF0010;
// More devices than a machine is ever plugged with: the rest is named.
constexpr int kLargestDeviceListing = 4096;
constexpr int kRecentRemovalMinutes = 60;

// A device property's time: the default value of its key (or of its "00000000" sub-key, as some
// builds keep it), a FILETIME of the property type 0xFFFF0010.
QDateTime propertyTime(const QString &device, const char *property)
{
    const QString key =
        QStringLiteral("%1\\%2\\%3").arg(device, QLatin1String(kDeviceProperties), QLatin1String(property));
    for (const QString &place : {key, key + QStringLiteral("\\00000000")}) {
        const platform::RegistryKeyContents contents = platform::readRegistryKey(HKEY_LOCAL_MACHINE, place);
        for (const platform::RegistryValue &value : contents.values) {
            if ((value.name.isEmpty() || value.name == QLatin1String("Data")) && value.type == kFileTimeProperty &&
                value.data.size() >= 8)
                return traces::fileTime(value.data, 0);
        }
    }
    return QDateTime();
}
} // namespace

QString UsbDeviceSource::name() const
{
    return QStringLiteral("USB");
}

TraceFindings UsbDeviceSource::collect(const TraceMachine &machine, TraceLimits &) const
{
    TraceFindings found;
    const QString storage = QLatin1String(kStorageKey);
    const platform::RegistryKeyContents devices = platform::readRegistryKey(HKEY_LOCAL_MACHINE, storage);
    if (devices.access == platform::RegistryKeyContents::Denied)
        found.unreadable.append(
            QStringLiteral("%1 (%2)").arg(name(), traces::registryPlace(HKEY_LOCAL_MACHINE, storage)));
    if (devices.access != platform::RegistryKeyContents::Read)
        return found;
    int listed = 0;
    for (const QString &device : devices.subKeys) {
        const platform::RegistryKeyContents serials =
            platform::readRegistryKey(HKEY_LOCAL_MACHINE, storage + QLatin1Char('\\') + device);
        for (const QString &serial : serials.subKeys) {
            if (++listed > kLargestDeviceListing) {
                found.notRead.append(QObject::tr("%1 (%2): прочитаны первые %3 устройств")
                                         .arg(name(), traces::registryPlace(HKEY_LOCAL_MACHINE, storage))
                                         .arg(kLargestDeviceListing));
                return found;
            }
            const QString key = QStringLiteral("%1\\%2\\%3").arg(storage, device, serial);
            const platform::RegistryKeyContents contents = platform::readRegistryKey(HKEY_LOCAL_MACHINE, key);
            const platform::RegistryValue *friendly = contents.value(QStringLiteral("FriendlyName"));
            const QString shown = QStringLiteral("%1 (%2)").arg(
                friendly ? friendly->text().left(256) : device.left(256), serial.left(256));
            const QDateTime arrival = propertyTime(key, "0066");
            TraceRow &row = found.addRow(name(), shown, arrival);
            row.medium = TraceMedium::Removable;
            row.deviceTimes = {propertyTime(key, "0065"), propertyTime(key, "0064"), arrival,
                               propertyTime(key, "0067")};
            const QDateTime removal = row.deviceTimes.at(3);
            const qint64 before = removal.isValid() ? removal.secsTo(machine.now) : -1;
            if (before >= 0 && before <= kRecentRemovalMinutes * 60)
                found.notices.append(QObject::tr("Съёмный диск отключён за %1 мин до проверки: %2 (%3)")
                                         .arg(before / 60)
                                         .arg(shown, traces::shownTime(removal)));
        }
    }
    return found;
}
