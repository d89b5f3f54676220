#include "platform/RegistryHives.h"

#include <QSettings>

#include <vector>

namespace platform {

bool registryKeyExists(HKEY hive, const QString &subKey)
{
    const std::wstring key = subKey.toStdWString();
    HKEY handle = nullptr;
    if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

QString registryValue(const QString &settingsPath, const QString &name)
{
    const QSettings settings(settingsPath, QSettings::Registry64Format);
    return settings.value(name, QString()).toString();
}

RegistryKeyContents readRegistryKey(HKEY hive, const QString &subKey)
{
    RegistryKeyContents result;
    const std::wstring path = subKey.toStdWString();
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key);
    if (opened == ERROR_ACCESS_DENIED)
        result.access = RegistryKeyContents::Denied;
    if (opened != ERROR_SUCCESS)
        return result;
    result.access = RegistryKeyContents::Read;
    DWORD subKeyCount = 0, longestSubKey = 0, valueCount = 0, longestName = 0, largestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeyCount, &longestSubKey, nullptr, &valueCount,
                         &longestName, &largestData, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return result;
    }
    std::vector<wchar_t> name(std::max(longestSubKey, longestName) + 2);
    for (DWORD i = 0; i < subKeyCount; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            result.subKeys.append(QString::fromWCharArray(name.data(), static_cast<int>(length)));
    }
    std::vector<BYTE> data(largestData + 2);
    int retries = 0;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
        if (status == ERROR_MORE_DATA && ++retries < 8) {
            // A value written since the key was measured: measure again and retry it.
            name.resize(name.size() * 2 + 256);
            data.resize(std::max<size_t>(data.size() * 2, dataLength + 2));
            --i;
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        RegistryValue value;
        value.name = QString::fromWCharArray(name.data(), static_cast<int>(nameLength));
        value.type = type;
        value.data = QByteArray(reinterpret_cast<const char *>(data.data()), static_cast<int>(dataLength));
        result.values.append(value);
    }
    RegCloseKey(key);
    return result;
}

} // namespace platform
