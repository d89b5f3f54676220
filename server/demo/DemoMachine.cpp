// Lays the bulk of a real gaming PC onto a demo machine made by lay-out-machine.sh, so that the whole
// check can be measured at the size it meets: 100,000 files in the folders the rules name, 9 browsers
// with 50,000 history rows in each profile, 50,000 trace values in the registry, 1,000 Prefetch files
// (compressed, 64 loaded files each), 2,000 PCA lines, 10,000 change journal records, 5,000 events,
// 300 driver files and 5 Steam accounts, with a few cheats planted among them. Times are relative to
// now, as the demo's own.
// Run: vigilor-demo-machine MACHINE_FOLDER

#include "HistoryDatabase.h"
#include "TraceFixtures.h"
#include "traces/TraceDecoders.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextStream>

namespace {
constexpr int kHistoryRows = 50000;
constexpr int kBamValues = 25000;
constexpr int kUserAssistValues = 25000;
constexpr int kPrefetchFiles = 1000;
constexpr int kLoadedPerPrefetch = 64;
constexpr int kPcaLines = 2000;
constexpr int kJournalRecords = 10000;
constexpr int kEvents = 5000;
constexpr int kDrivers = 300;

// The rule folders and how many files each gets: 100,000 in all. Downloads' programs are hashed by
// the demo's rule for a known loader, as a real check hashes them.
const struct
{
    const char *folder;
    const char *name; // %1: the file's number
    int count;
    int bytes;
} kFolders[] = {{"Games/csgo", "pak01_%1.vpk", 30000, 2048},
                {"AppData/Local/Temp", "tmp%1.tmp", 40000, 1024},
                {"AppData/Local/Downloads", "setup_%1.exe", 1000, 65536},
                {"AppData/Local/Downloads", "document_%1.pdf", 4000, 4096},
                {"AppData/Local/Temp", "log_%1.txt", 25000, 512}};

// Planted among the bulk: a loader's library in the temporary folder, and runs of cheats in the traces.
const char *const kPlantedFile = "AppData/Local/Temp/wallhack_v3.dll";
const char *const kPlantedPrefetch = "TRIGGERBOT_V3.EXE";
const char *const kPlantedBam = "C:\\\\Users\\\\player\\\\Downloads\\\\aimbot_2026.exe";

bool writeFile(const QString &path, const QByteArray &content, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(mode) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Bytes of a file of its own: a line naming it, repeated to `size`.
QByteArray fileContent(const QString &name, int size)
{
    const QByteArray line = "demo machine file " + name.toUtf8() + "\n";
    QByteArray content;
    content.reserve(size);
    while (content.size() < size)
        content += line;
    content.truncate(size);
    return content;
}

// Search terms of a history: mostly plain, one in a thousand a suspicious one.
bool writeChromiumHistory(const QString &path)
{
    if (!QFile::exists(path) && !writeHistoryDatabase(path, {}))
        return false;
    return writeDatabase(path, {numberedRows(kHistoryRows) +
                                QStringLiteral("INSERT INTO keyword_search_terms SELECT 2, 100000 + i, 'how to ' || "
                                               "CASE WHEN i % 1000 = 0 THEN 'cheat rank ' ELSE 'fix fps ' END || i, '' "
                                               "FROM n")});
}

bool writeFirefoxProfile(const QString &folder)
{
    const QString form = folder + QStringLiteral("/formhistory.sqlite");
    const QString places = folder + QStringLiteral("/places.sqlite");
    QStringList formStatements{numberedRows(kHistoryRows / 2) +
                               QStringLiteral("INSERT INTO moz_formhistory (fieldname, value, timesUsed, firstUsed, "
                                              "lastUsed, guid) SELECT 'searchbar-history', 'settings ' || i, 1, i, "
                                              "i, '' FROM n")};
    QStringList placesStatements{numberedRows(kHistoryRows / 2) +
                                 QStringLiteral("INSERT INTO moz_places (url, last_visit_date) SELECT "
                                                "'https://www.google.com/search?q=patch+notes+' || i, i FROM n")};
    if (!QFile::exists(form))
        formStatements.prepend(kFirefoxFormHistorySchema);
    if (!QFile::exists(places))
        placesStatements.prepend(kFirefoxPlacesSchema);
    return writeDatabase(form, formStatements) && writeDatabase(places, placesStatements);
}

bool writeBrowsers(const QString &machine)
{
    bool written = true;
    const QString local = machine + QStringLiteral("/AppData/Local/");
    for (const char *root : {"Google/Chrome/User Data", "Yandex/YandexBrowser/User Data", "Microsoft/Edge/User Data",
                             "BraveSoftware/Brave-Browser/User Data", "Vivaldi/User Data", "Chromium/User Data"}) {
        for (const char *profile : {"Default", "Profile 1", "Profile 2"})
            written &= writeChromiumHistory(local + QLatin1String(root) + '/' + QLatin1String(profile) + "/History");
    }
    // Opera and Opera GX keep one profile each; the demo's Opera holds a trap (a view for the terms'
    // table) that stays as it is.
    for (const char *root : {"Opera Software/Opera Stable", "Opera Software/Opera GX Stable"}) {
        const QString history = machine + QStringLiteral("/AppData/Roaming/") + QLatin1String(root) + "/History";
        if (!QFile::exists(history))
            written &= writeChromiumHistory(history);
    }
    const QString firefox = machine + QStringLiteral("/AppData/Roaming/Mozilla/Firefox/");
    QByteArray ini = readFile(firefox + QStringLiteral("profiles.ini"));
    written &= writeFirefoxProfile(firefox + QStringLiteral("Profiles/k2x9demo.default-release"));
    for (int i = 1; i <= 2; ++i) {
        const QString name = QStringLiteral("Profiles/bulk%1.default").arg(i);
        ini += QStringLiteral("\n[Profile%1]\nName=bulk%1\nIsRelative=1\nPath=%2\n").arg(i).arg(name).toUtf8();
        written &= writeFirefoxProfile(firefox + name);
    }
    return written && writeFile(firefox + QStringLiteral("profiles.ini"), ini);
}

// BAM under five users' SIDs and UserAssist's two keys: programs of the machine, a fifth of them
// still there, and one planted cheat.
QByteArray registryValues(const QString &machine, const QDateTime &now)
{
    QByteArray reg;
    for (int i = 0; i < kBamValues; ++i) {
        if (i % (kBamValues / 5) == 0)
            reg += "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\bam\\State\\UserSettings\\"
                   "S-1-5-21-3623811015-3361044348-30300820-" +
                   QByteArray::number(1002 + i / (kBamValues / 5)) + "]\r\n";
        const QByteArray path =
            i == 0 ? QByteArray(kPlantedBam)
            : i % 5 == 0
                ? (machine + QStringLiteral("/Program Files/Common Files/lib-%1.dll").arg(i / 5 % 1000)).toUtf8()
                : "C:\\\\Program Files\\\\App " + QByteArray::number(i) + "\\\\app.exe";
        reg += '"' + path + "\"=" + registryHex(fileTimeBytes(now.addSecs(-60 * i)) + QByteArray(16, '\0')) + "\r\n";
    }
    for (int i = 0; i < kUserAssistValues; ++i) {
        if (i % (kUserAssistValues / 2) == 0)
            reg += QByteArray("\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                              "UserAssist\\") +
                   (i == 0 ? "{CEBFF5CD-ACE2-4F4F-9178-9926F41749EA}" : "{F4E57C4B-2036-45F0-A9AB-443BCFE33D9F}") +
                   "\\Count]\r\n";
        QByteArray data(72, '\0');
        data[4] = char(1 + i % 20);
        data.replace(60, 8, fileTimeBytes(now.addSecs(-90 * i)));
        reg += '"' + traces::rot13(QStringLiteral("C:\\\\Tools\\\\tool-%1.exe").arg(i)).toUtf8() +
               "\"=" + registryHex(data) + "\r\n";
    }
    return reg;
}

// Events of a running system: services starting and stopping, and some installed.
QByteArray events(const QDateTime &now)
{
    QByteArray log;
    for (int i = 0; i < kEvents; ++i) {
        const QByteArray time = now.addSecs(-37 * i).toString(Qt::ISODateWithMs).toLatin1();
        const QByteArray name = "Service" + QByteArray::number(i % 400);
        const bool installed = i % 25 == 0;
        log += "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><EventID>" +
               QByteArray(installed ? "7045" : "7036") + "</EventID><TimeCreated SystemTime='" + time +
               "'/><Channel>System</Channel></System><EventData>" +
               (installed
                    ? "<Data Name='ServiceName'>" + name + "</Data><Data Name='ImagePath'>C:\\Program Files\\Vendor\\" +
                          name + ".exe</Data><Data Name='ServiceType'>user mode service</Data>"
                    : "<Data Name='param1'>" + name + "</Data><Data Name='param2'>running</Data>") +
               "</EventData></Event>\n";
    }
    return log;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: vigilor-demo-machine MACHINE_FOLDER\n";
        return 2;
    }
    const QString machine = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!QFile::exists(machine + QStringLiteral("/registry.reg"))) {
        QTextStream(stderr) << "not a demo machine (no registry.reg): " << machine << "\n";
        return 2;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    bool written = true;

    for (const auto &folder : kFolders) {
        for (int i = 0; i < folder.count; ++i) {
            const QString name = QString::fromLatin1(folder.name).arg(i, 5, 10, QLatin1Char('0'));
            written &= writeFile(machine + '/' + QLatin1String(folder.folder) + '/' + name,
                                 fileContent(name, folder.bytes / 2 + (i * 7919) % folder.bytes));
        }
    }
    written &= writeFile(machine + '/' + QLatin1String(kPlantedFile), fileContent(QStringLiteral("wallhack"), 40960));
    for (int i = 0; i < 1000; ++i)
        written &= writeFile(machine + QStringLiteral("/Program Files/Common Files/lib-%1.dll").arg(i),
                             fileContent(QString::number(i), 8192));

    written &= writeBrowsers(machine);
    written &= writeFile(machine + QStringLiteral("/registry.reg"), registryValues(machine, now), QIODevice::Append);

    QStringList loaded;
    for (int f = 0; f < kLoadedPerPrefetch; ++f)
        loaded.append(machine + QStringLiteral("/Program Files/Common Files/lib-%1.dll").arg(f * 13));
    for (int i = 0; i < kPrefetchFiles; ++i) {
        const QString program = i == 0 ? QLatin1String(kPlantedPrefetch) : QStringLiteral("PROGRAM-%1.EXE").arg(i);
        written &= writeFile(
            machine + QStringLiteral("/Windows/Prefetch/%1-%2.pf").arg(program).arg(i * 7919, 8, 16, QLatin1Char('0')),
            compressedPrefetch(prefetchFile(now.addSecs(-300 * i), 30, program, 1 + i % 9, loaded)));
    }
    QByteArray pca;
    for (int i = 0; i < kPcaLines; ++i)
        pca += QStringLiteral("C:\\Program Files\\App %1\\app.exe|%2\r\n")
                   .arg(i)
                   .arg(now.addSecs(-400 * i).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")))
                   .toUtf8();
    written &=
        writeFile(machine + QStringLiteral("/Windows/appcompat/pca/PcaAppLaunchDic.txt"), pca, QIODevice::Append);

    QByteArray journal;
    for (int i = 0; i < kJournalRecords; ++i)
        journal += usnRecord(2, quint64(1000 + i), 5, now.addSecs(-i / 10), (i % 2 ? 0x200u : 0x100u) | 0x80000000u,
                             QStringLiteral("update-%1.tmp").arg(i));
    written &= writeFile(machine + QStringLiteral("/usn-journal.bin"), journal, QIODevice::Append);

    QByteArray log = readFile(machine + QStringLiteral("/events.xml"));
    log.replace("</Events>\n", events(now) + "</Events>\n");
    written &= writeFile(machine + QStringLiteral("/events.xml"), log);

    QByteArray listed;
    for (int i = 0; i < kDrivers; ++i) {
        const QString file = QStringLiteral("Windows/System32/drivers/vendor%1.sys").arg(i, 3, 10, QLatin1Char('0'));
        written &= writeFile(machine + '/' + file, peImage("vendor driver " + QByteArray::number(i)));
        listed += "\\SystemRoot\\" + file.mid(8).replace(QLatin1Char('/'), QLatin1Char('\\')).toUtf8() + "\n";
    }
    written &= writeFile(machine + QStringLiteral("/loaded-drivers.txt"), listed, QIODevice::Append);

    QByteArray users = readFile(machine + QStringLiteral("/Steam/config/loginusers.vdf"));
    const int end = users.lastIndexOf('}');
    QByteArray more;
    for (int i = 4; i <= 5; ++i)
        more += "\t\"7656119800000000" + QByteArray::number(i) + "\"\n\t{\n\t\t\"AccountName\"\t\t\"bulk_" +
                QByteArray::number(i) + "\"\n\t\t\"PersonaName\"\t\t\"Bulk " + QByteArray::number(i) +
                "\"\n\t\t\"Timestamp\"\t\t\"1700000" + QByteArray::number(i) + "00\"\n\t}\n";
    written &= end > 0 && writeFile(machine + QStringLiteral("/Steam/config/loginusers.vdf"),
                                    users.left(end) + more + users.mid(end));
    if (!written)
        QTextStream(stderr) << "could not write the whole machine into " << machine << "\n";
    return written ? 0 : 1;
}
