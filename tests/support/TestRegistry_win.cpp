#include "TestEnvironment.h"

#include <QRegularExpression>
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
};

// A quoted export string: \\ and \" are escapes.
QString unquote(const QString &quoted)
{
    QString text;
    for (int i = 1; i < quoted.size() - 1; ++i) {
        if (quoted.at(i) == QLatin1Char('\\') && i + 1 < quoted.size() - 1)
            ++i;
        text.append(quoted.at(i));
    }
    return text;
}

// The end of the quoted string starting at `from`, or -1.
int closingQuote(const QString &line, int from)
{
    for (int i = from + 1; i < line.size(); ++i) {
        if (line.at(i) == QLatin1Char('\\'))
            ++i;
        else if (line.at(i) == QLatin1Char('"'))
            return i;
    }
    return -1;
}
} // namespace

// Imports the export text into the real registry (64-bit view) with the Win32 API.
bool useRegistry(ScopedEnvironment &, const QString &, const QByteArray &exportText)
{
    for (const auto &key : kTestKeys)
        RegDeleteTreeW(key.hive, key.key);
    HKEY current = nullptr;
    bool imported = true;
    const QStringList lines = QString::fromUtf8(exportText).split(QRegularExpression(QStringLiteral("\r?\n")));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            if (current)
                RegCloseKey(current);
            current = nullptr;
            const QString path = line.mid(1, line.size() - 2);
            const QString hiveName = path.section(QLatin1Char('\\'), 0, 0);
            const HKEY hive = hiveName == QLatin1String("HKEY_CURRENT_USER") ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
            const std::wstring subKey = path.section(QLatin1Char('\\'), 1).toStdWString();
            imported = RegCreateKeyExW(hive, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                                       &current, nullptr) == ERROR_SUCCESS &&
                       imported;
            continue;
        }
        if (!current || line.isEmpty())
            continue;
        QString name;
        int valueStart = 0;
        if (line.startsWith(QLatin1String("@="))) {
            valueStart = 2;
        } else if (line.startsWith(QLatin1Char('"'))) {
            const int end = closingQuote(line, 0);
            if (end < 0 || line.mid(end + 1, 1) != QLatin1String("="))
                continue;
            name = unquote(line.left(end + 1));
            valueStart = end + 2;
        } else {
            continue;
        }
        const QString value = unquote(line.mid(valueStart));
        const std::wstring wideName = name.toStdWString();
        const std::wstring wideValue = value.toStdWString();
        imported = RegSetValueExW(current, name.isEmpty() ? nullptr : wideName.c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE *>(wideValue.c_str()),
                                  static_cast<DWORD>((wideValue.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
                   imported;
    }
    if (current)
        RegCloseKey(current);
    return imported;
}
