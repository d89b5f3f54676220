// Writes the fuzz targets' seeds, one folder a target under the folder named first, from the same
// writers of Windows' trace files the tests use, so that each target starts from real layouts.

#include "HiveFixture.h"
#include "TraceFixtures.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace {
const QDateTime kRun(QDate(2026, 12, 1), QTime(9, 30, 15), Qt::UTC);

bool writeSeed(const QString &folder, const QString &name, const QByteArray &content)
{
    QFile file(folder + QLatin1Char('/') + name);
    return QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray utf16(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

QByteArray number(quint64 value, int bytes)
{
    QByteArray out(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<char>(value >> (8 * i));
    return out;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const QString root = QFile::decodeName(argv[1]);
    bool written = true;
    const auto seed = [&](const char *target, const QString &name, const QByteArray &content) {
        written &= writeSeed(root + QLatin1Char('/') + QLatin1String(target), name, content);
    };
    const QStringList files = {QStringLiteral("\\VOLUME{01d5e0f3a8b1c2d3-1a2b3c4d}\\GAMES\\CSGO.EXE"),
                               QStringLiteral("\\DEVICE\\HARDDISKVOLUME2\\USERS\\P\\HOOK.DLL")};
    for (const quint32 format : {17u, 23u, 26u, 30u, 31u}) {
        const QByteArray plain = prefetchFile(kRun, format, QStringLiteral("CSGO.EXE"), 3, files);
        seed("prefetch", QStringLiteral("format-%1.pf").arg(format), plain);
        seed("prefetch", QStringLiteral("format-%1-compressed.pf").arg(format), compressedPrefetch(plain));
    }
    seed("shortcut", QStringLiteral("fixed.lnk"), shortcutFile("C:\\Games\\x.exe", 3));
    seed("shortcut", QStringLiteral("removable.lnk"), shortcutFile("E:\\loader.exe", 2));
    seed("shortcut", QStringLiteral("network.lnk"), shortcutFile({}, 0, "\\\\SERVER\\SHARE", "aim.exe"));
    seed("shortcut", QStringLiteral("no-link-info.lnk"), shortcutFile({}, 0));
    const QString deleted = QStringLiteral("C:\\Users\\p\\Downloads\\aim.exe");
    const QByteArray filetime = number(quint64(kRun.toMSecsSinceEpoch() + 11644473600000LL) * 10000, 8);
    seed("recycle_bin", QStringLiteral("version-2"),
         number(2, 8) + number(4096, 8) + filetime + number(quint64(deleted.size() + 1), 4) + utf16(deleted) +
             QByteArray(2, '\0'));
    seed("recycle_bin", QStringLiteral("version-1"),
         number(1, 8) + number(4096, 8) + filetime + (utf16(deleted) + QByteArray(520, '\0')).left(520));
    seed("usn_journal", QStringLiteral("records"),
         usnRecord(2, 1, 5, kRun, 0x100, QStringLiteral("loader.exe")) +
             usnRecord(3, 2, 5, kRun, 0x1000, QStringLiteral("aim.exe")) +
             usnRecord(3, 2, 5, kRun, 0x2000, QStringLiteral("notes.txt")) +
             usnRecord(2, 3, 5, kRun, 0x80000200, QStringLiteral("hook.dll")));
    const QString pca = QStringLiteral("C:\\Users\\Jörg\\aim.exe|2026-12-01 09:30:15.000\r\n\\\\server\\s\\x.exe|"
                                       "2026-12-01 09:31:00.000\r\n");
    seed("pca", QStringLiteral("utf-8"), pca.toUtf8());
    seed("pca", QStringLiteral("utf-16"), QByteArray("\xFF\xFE") + utf16(pca));
    seed("driver_file", QStringLiteral("unsigned.sys"), peImage("driver code"));
    const QStringList cached = {QStringLiteral("C:\\Users\\p\\loader.exe"), QStringLiteral("D:\\x.exe")};
    for (const int layout : {10, 81, 8, 7})
        seed("compat_cache", QStringLiteral("windows-%1").arg(layout), compatCacheValue(layout, cached, kRun));
    const QVector<AmcacheFixtureFile> inventory = {{QStringLiteral("C:\\Users\\p\\loader.exe"),
                                                    QString(40, QLatin1Char('a')), kRun, 4096, QStringLiteral("V"),
                                                    false},
                                                   {QStringLiteral("C:\\Windows\\System32\\drivers\\x.sys"),
                                                    QString(40, QLatin1Char('b')), kRun, 0, QStringLiteral("V"), true}};
    seed("amcache", QStringLiteral("inventory.hve"), amcacheHive(inventory, true));
    seed("amcache", QStringLiteral("file.hve"), amcacheHive(inventory, false));
    seed("amcache", QStringLiteral("unflushed.hve"), unflushedHive(amcacheHive(inventory, true)));
    // The smallest volume mkntfs makes (2 MiB), where ntfs-3g is installed.
    const QString mkntfs = QStandardPaths::findExecutable(QStringLiteral("mkntfs"), {"/sbin", "/usr/sbin"});
    const QString volume = root + QStringLiteral("/ntfs_volume/volume.img");
    if (!mkntfs.isEmpty() && QDir().mkpath(root + QStringLiteral("/ntfs_volume"))) {
        QFile image(volume);
        written &= image.open(QIODevice::WriteOnly) && image.resize(2 << 20);
        image.close();
        QProcess make;
        make.start(mkntfs, {"-F", "-f", "-q", volume});
        written &= make.waitForFinished(60000) && make.exitCode() == 0;
    }
    seed("event_log", QStringLiteral("events.xml"),
         "<Events><Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><EventID>7045"
         "</EventID><TimeCreated SystemTime='2026-12-01T09:30:15.000Z'/><Channel>System</Channel></System>"
         "<EventData><Data Name='ServiceName'>kbf</Data><Data Name='ImagePath'>\\SystemRoot\\System32\\drivers\\"
         "kbf.sys</Data></EventData></Event><Event><System><EventID>1102</EventID><Channel>Security</Channel>"
         "</System><UserData><LogFileCleared><SubjectUserName>p</SubjectUserName></LogFileCleared></UserData>"
         "</Event><Event><System><EventID>7036</EventID></System><EventData><Binary>530079007300</Binary>"
         "</EventData></Event></Events>");
    seed("registry_file", QStringLiteral("export.reg"),
         "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\bam\\"
         "State\\UserSettings\\S-1-5-21]\r\n\"\\\\Device\\\\HarddiskVolume3\\\\x.exe\"=hex:00,01,02,03,04,05,06,07,"
         "\\\r\n"
         "  08\r\n\"Version\"=dword:00000001\r\n@=\"text \\\"quoted\\\"\"\r\n\"Multi\"=hex(7):41,00,00,00,00,00\r\n");
    seed("proxy_line", QStringLiteral("tcp4"), "PROXY TCP4 192.0.2.7 198.51.100.1 51234 443\r\n");
    seed("proxy_line", QStringLiteral("tcp6"), "PROXY TCP6 2001:db8::7 2001:db8::1 51234 443\r\n");
    seed("report_intake", QStringLiteral("report.json"),
         R"({"format":"vigilor-report/1","machine":"PC","events":[{"type":"account","steam_id":"7656","vac":true},)"
         R"({"type":"traces","signs":["s"],"rows":[{"path":"C:\\x.exe","rule":"Loader","level":1}]},)"
         R"({"type":"scan","findings":[{"kind":"unreadable","target":"H","reason":"view"}]}]})");
    return written ? 0 : 1;
}
