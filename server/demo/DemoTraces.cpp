// Writes the demo machine's trace files from their layouts: the game's Prefetch file naming a library
// it loaded from the temporary folder, a shortcut to a loader on a removable drive, a Recycle Bin
// entry, change journal records of a deleted loader and a deleted listed driver, an event log of a
// cleared log and an installed driver, the driver files of the drivers check, and (into the registry
// stand-in's file) the compatibility cache and a USB drive. Times are set relative to now, so that
// they fall in the windows the program reads.
// Run: vigilor-demo-traces MACHINE_FOLDER [RECORDED_AS WINDOWS_FOLDER [PROFILE_AS]]
// RECORDED_AS is how the examined system spells the machine folder in the paths its traces record
// ("C:" when the machine's folders are laid on a Wine prefix's drive C), WINDOWS_FOLDER its Windows
// folder ("C:\\windows"), PROFILE_AS the folder that holds the machine's AppData there
// ("C:\\users\\player"); by default the machine folder's own path, its Windows folder and the machine folder.

#include "HiveFixture.h"
#include "TraceFixtures.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QtEndian>

namespace {
bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray utf16Hex(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), int(text.size()) * 2).toHex().toUpper();
}

QByteArray eventXml(int id, const char *channel, const QDateTime &time, const QByteArray &body)
{
    return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><EventID>" +
           QByteArray::number(id) + "</EventID><TimeCreated SystemTime='" +
           time.toString(Qt::ISODateWithMs).toLatin1() + "'/><Channel>" + channel + "</Channel></System>" + body +
           "</Event>\n";
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 4 && argc != 5) {
        QTextStream(stderr) << "usage: vigilor-demo-traces MACHINE_FOLDER [RECORDED_AS WINDOWS_FOLDER [PROFILE_AS]]\n";
        return 2;
    }
    const QString machine = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString recorded = argc >= 4 ? QString::fromLocal8Bit(argv[2]) : machine;
    const QString profile = argc == 5 ? QString::fromLocal8Bit(argv[4]) : recorded;
    const QChar separator = argc >= 4 ? QLatin1Char('\\') : QLatin1Char('/');
    const auto inMachine = [&recorded, &profile, separator](QString below) {
        const QString &root = below.startsWith(QLatin1String("AppData/")) ? profile : recorded;
        return root + separator + below.replace(QLatin1Char('/'), separator);
    };
    const QDateTime now = QDateTime::currentDateTimeUtc();
    bool written = true;

    // The stand-in has no volumes to map, so the game's Prefetch file names the machine's own paths.
    const QStringList loaded = {inMachine(QStringLiteral("Games/csgo/csgo.exe")),
                                (argc >= 4 ? QString::fromLocal8Bit(argv[3]) + QStringLiteral("\\System32")
                                           : inMachine(QStringLiteral("Windows/System32"))) +
                                    separator + QStringLiteral("ntdll.dll"),
                                inMachine(QStringLiteral("AppData/Local/Temp/triggerbot.dll"))};
    written &=
        writeFile(machine + QStringLiteral("/Windows/Prefetch/CSGO.EXE-6C5A1E2F.pf"),
                  compressedPrefetch(prefetchFile(now.addSecs(-2 * 3600), 30, QStringLiteral("CSGO.EXE"), 14, loaded)));
    // The other programs' Prefetch files, as Windows 10 writes them.
    const struct
    {
        const char *file;
        const char *program;
        const char *loaded;
        int hoursAgo;
    } others[] = {{"AIMBOT.EXE-1A2B3C4D.pf", "AIMBOT.EXE", "AppData/Roaming/CheatTools/aimbot_loader.exe", 20},
                  {"STEAM.EXE-0E8D4C3B.pf", "STEAM.EXE", "Steam/steam.exe", 3}};
    for (const auto &other : others)
        written &= writeFile(
            machine + QStringLiteral("/Windows/Prefetch/") + QLatin1String(other.file),
            compressedPrefetch(prefetchFile(now.addSecs(-3600 * other.hoursAgo), 30, QLatin1String(other.program), 3,
                                            {inMachine(QLatin1String(other.loaded))})));
    written &= writeFile(machine + QStringLiteral("/AppData/Roaming/Microsoft/Windows/Recent/loader.exe.lnk"),
                         shortcutFile("E:\\loader.exe", 2));

    const QString bin = machine + QStringLiteral("/$Recycle.Bin/S-1-5-21-1001-1001/");
    QByteArray entry(8, '\0');
    qToLittleEndian<quint64>(2, entry.data());
    entry += QByteArray(8, '\0');
    QByteArray deleted(8, '\0');
    qToLittleEndian<quint64>(quint64(now.addSecs(-3 * 3600).toMSecsSinceEpoch() + 11644473600000LL) * 10000,
                             deleted.data());
    const QString original = QStringLiteral("C:\\Users\\player\\Desktop\\wallhack_loader.exe");
    QByteArray length(4, '\0');
    qToLittleEndian<quint32>(quint32(original.size() + 1), length.data());
    entry += deleted + length + QByteArray(reinterpret_cast<const char *>(original.utf16()), int(original.size()) * 2) +
             QByteArray(2, '\0');
    written &= writeFile(bin + QStringLiteral("$I7Q2K9D.exe"), entry);
    QFile loader(machine + QStringLiteral("/AppData/Roaming/CheatTools/aimbot_loader.exe"));
    written &= loader.open(QIODevice::ReadOnly) && writeFile(bin + QStringLiteral("$R7Q2K9D.exe"), loader.readAll());

    // A journal made 20 minutes ago: after the demo machine's start only if that was earlier.
    QByteArray journal(8, '\0');
    qToLittleEndian<quint64>(quint64(now.addSecs(-1200).toMSecsSinceEpoch() + 11644473600000LL) * 10000,
                             journal.data());
    journal += usnRecord(2, 41, 5, now.addSecs(-5400), 0x100 | 0x80000000u, QStringLiteral("spoofer.exe")) +
               usnRecord(2, 41, 5, now.addSecs(-4000), 0x200 | 0x80000000u, QStringLiteral("spoofer.exe"));

    // Driver files: the system's own, a monitoring tool's listed driver (its digest is in
    // demo-drivers.csv: changing its payload unlists it) and a mapper's driver left in the temporary
    // folder. Unsigned: the stand-in names no signer for them.
    const struct
    {
        const char *path;
        const char *payload;
    } drivers[] = {{"Windows/System32/ntoskrnl.exe", "kernel"},
                   {"Windows/System32/drivers/disk.sys", "disk class driver"},
                   {"Windows/System32/DriverStore/FileRepository/nv_dispi.inf_amd64/nvlddmkm.sys", "display driver"},
                   {"Program Files/MSI Afterburner/RTCore64.sys", "demo monitoring driver"},
                   {"AppData/Local/Temp/iqvw64e.sys", "mapped cheat driver"}};
    for (const auto &driver : drivers)
        written &= writeFile(machine + QLatin1Char('/') + QLatin1String(driver.path), peImage(driver.payload));
    journal += usnRecord(2, 42, 5, now.addSecs(-3000), 0x100 | 0x80000000u, QStringLiteral("gdrv.sys")) +
               usnRecord(2, 42, 5, now.addSecs(-2900), 0x200 | 0x80000000u, QStringLiteral("gdrv.sys"));
    written &= writeFile(machine + QStringLiteral("/usn-journal.bin"), journal);

    QByteArray log = "<Events>\n";
    log += eventXml(1102, "Security", now.addSecs(-7200),
                    "<UserData><LogFileCleared xmlns='http://manifests.microsoft.com/win/2004/08/windows/eventlog'>"
                    "<SubjectUserName>player</SubjectUserName><SubjectDomainName>DEMO-PC</SubjectDomainName>"
                    "</LogFileCleared></UserData>");
    log +=
        eventXml(7045, "System", now.addSecs(-6000),
                 "<EventData><Data Name='ServiceName'>kbdfilter</Data><Data Name='ImagePath'>\\SystemRoot\\System32\\"
                 "drivers\\kbdfilter.sys</Data><Data Name='ServiceType'>kernel mode driver</Data></EventData>");
    log += eventXml(7036, "System", now.addSecs(-5000),
                    "<EventData><Data Name='param1'>SysMain</Data><Data Name='param2'>stopped</Data><Binary>" +
                        utf16Hex(QStringLiteral("SysMain/1")) + "</Binary></EventData>");
    log += "</Events>\n";
    written &= writeFile(machine + QStringLiteral("/events.xml"), log);
    // Amcache: a driver mapper run from the downloads and deleted (its SHA-1 is the demo rule's), the
    // monitoring tool's listed driver and a game file, recorded as Windows records them.
    QFile monitoring(machine + QStringLiteral("/Program Files/MSI Afterburner/RTCore64.sys"));
    written &= monitoring.open(QIODevice::ReadOnly);
    const QString monitoringSha1 =
        QString::fromLatin1(QCryptographicHash::hash(monitoring.readAll(), QCryptographicHash::Sha1).toHex());
    const QVector<AmcacheFixtureFile> inventory = {
        {QStringLiteral("C:\\Users\\player\\Downloads\\kdmapper.exe"),
         QStringLiteral("5b2f0c6d1a7e9f3b4c8d2e6a0f1b3c5d7e9a1b3c"), now.addSecs(-3100), 187392, QString(), false},
        {QStringLiteral("C:\\Games\\csgo\\csgo.exe"), QStringLiteral("0c9e2a4b6d8f0a1c3e5b7d9f1a3c5e7b9d0f2a4c"),
         now.addDays(-30), 1193984, QStringLiteral("Valve"), false},
        {QStringLiteral("C:\\Program Files\\MSI Afterburner\\RTCore64.sys"), monitoringSha1, now.addDays(-60),
         quint64(monitoring.size()), QStringLiteral("Micro-Star Int'l"), true}};
    written &= writeFile(machine + QStringLiteral("/Windows/AppCompat/Programs/Amcache.hve"), amcacheHive(inventory));
    // The compatibility cache and a USB drive removed a quarter of an hour ago, into the registry
    // stand-in's file where the demo has one; their times are relative to now too.
    QFile registry(machine + QStringLiteral("/registry.reg"));
    if (registry.exists()) {
        const QByteArray cache = compatCacheValue(10,
                                                  {QStringLiteral("C:\\Users\\player\\Desktop\\wallhack_loader.exe"),
                                                   QStringLiteral("C:\\Users\\player\\Downloads\\kdmapper.exe"),
                                                   QStringLiteral("C:\\Windows\\notepad.exe")},
                                                  now.addDays(-3));
        const QByteArray device =
            "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_Kingston&Prod_"
            "DataTraveler\\60A44C3FAE2B";
        const QByteArray properties = device + "\\Properties\\{83da6326-97a6-4088-9453-a1923f573b29}\\";
        written &=
            registry.open(QIODevice::Append) &&
            registry.write("\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
                           "Manager\\AppCompatCache]\n\"AppCompatCache\"=" +
                           registryHex(cache) + "\n\n[" + device +
                           "]\n\"FriendlyName\"=\"Kingston DataTraveler 3.0 USB Device\"\n\n[" + properties +
                           "0065]\n@=" + registryHex(fileTimeBytes(now.addDays(-40)), "hex(ffff0010)") + "\n\n[" +
                           properties + "0066]\n@=" + registryHex(fileTimeBytes(now.addSecs(-5400)), "hex(ffff0010)") +
                           "\n\n[" + properties +
                           "0067]\n@=" + registryHex(fileTimeBytes(now.addSecs(-900)), "hex(ffff0010)") + "\n") > 0;
    }
    return written ? 0 : 1;
}
