#include "TestEnvironment.h"

#include "platform/RegistryFile.h"

#include <QStringList>

#include <qt_windows.h>

namespace {
// Every key the tests write below; cleared before each import, so that nothing of an earlier test
// remains in the (throwaway) registry of the Wine prefix.
const struct
{
    HKEY hive;
    const wchar_t *key;
} kTestKeys[] = {
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 730"},
    {HKEY_CURRENT_USER, L"SOFTWARE\\Valve"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Other"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\CheatVendor"},
    // The execution traces and their signs (services that Wine does not have).
    {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\bam"},
    {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\dam"},
    {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\SysMain"},
    {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\PcaSvc"},
    {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management\\PrefetchParameters"},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers"},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags"},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist"},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced"},
    {HKEY_CURRENT_USER, L"Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache"},
    // The boot configuration, the compatibility cache, USB drives and Defender's exclusions.
    {HKEY_LOCAL_MACHINE, L"BCD00000000"},
    {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\AppCompatCache"},
    {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows Defender\\Exclusions"},
};
} // namespace

// Imports the export text into the real registry (64-bit view) with the Win32 API, each value with
// its type and raw data.
bool useRegistry(ScopedEnvironment &, const QString &, const QByteArray &exportText)
{
    for (const auto &key : kTestKeys)
        RegDeleteTreeW(key.hive, key.key);
    const RegistryFile registry = RegistryFile::parse(QString::fromUtf8(exportText));
    bool imported = true;
    for (const QString &path : registry.keyPaths()) {
        const QString hiveName = path.section(QLatin1Char('\\'), 0, 0);
        const HKEY hive = hiveName == QLatin1String("HKEY_CURRENT_USER") ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        const std::wstring subKey = path.section(QLatin1Char('\\'), 1).toStdWString();
        HKEY key = nullptr;
        if (RegCreateKeyExW(hive, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            imported = false;
            continue;
        }
        for (const platform::RegistryValue &value : registry.contents(path).values) {
            const std::wstring name = value.name.toStdWString();
            imported = RegSetValueExW(key, value.name.isEmpty() ? nullptr : name.c_str(), 0, value.type,
                                      reinterpret_cast<const BYTE *>(value.data.constData()),
                                      static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS &&
                       imported;
        }
        RegCloseKey(key);
    }
    return imported;
}
