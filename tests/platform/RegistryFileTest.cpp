#include "platform/RegistryFile.h"
#include "TestEnvironment.h"
#include "TestMain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

class RegistryFileTest : public QObject
{
    Q_OBJECT

private slots:
    void values_data();
    void values();
    void utf16ExportIsRead();
    void missingFileIsEmpty();
    void typedValuesAndSubKeys();
};

namespace {
const char kExport[] = "Windows Registry Editor Version 5.00\r\n"
                       "\r\n"
                       "\"Orphan\"=\"before any section\"\r\n"
                       "[HKEY_CURRENT_USER\\SOFTWARE\\Valve\\Steam]\r\n"
                       "\"SteamPath\"=\"c:/program files (x86)/steam\"\r\n"
                       "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
                       "\"Path\"=\"C:\\\\Games\\\\csgo\"\r\n"
                       "\"Number\"=dword:00000001\r\n"
                       "\"Binary\"=hex:01,02,\\\r\n"
                       "  03,04\r\n"
                       "@=\"default text\"\r\n"
                       "\"Unclosed\"=\"no end\r\n"
                       "garbage line\r\n"
                       "\r\n"
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Broken\r\n"
                       "\"Lost\"=\"in a broken section\"\r\n"
                       "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Deleted]\r\n"
                       "\"Lost\"=\"in a deletion\"\r\n";
} // namespace

void RegistryFileTest::values_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    const QString steam = QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Valve\\Steam");
    QTest::newRow("plain text") << steam << "SteamPath"
                                << "c:/program files (x86)/steam";
    QTest::newRow("key and name in other case") << "hkey_current_user\\software\\VALVE\\steam\\"
                                                << "steampath"
                                                << "c:/program files (x86)/steam";
    QTest::newRow("escaped quotes") << steam << "Quoted"
                                    << "say \"hi\"";
    QTest::newRow("escaped backslashes") << steam << "Path"
                                         << "C:\\Games\\csgo";
    QTest::newRow("default value") << steam << ""
                                   << "default text";
    QTest::newRow("dword ignored") << steam << "Number"
                                   << "";
    QTest::newRow("hex ignored") << steam << "Binary"
                                 << "";
    QTest::newRow("unclosed quote ignored") << steam << "Unclosed"
                                            << "";
    QTest::newRow("missing name") << steam << "Nothing"
                                  << "";
    QTest::newRow("broken section") << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Broken"
                                    << "Lost"
                                    << "";
    QTest::newRow("deletion section") << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Deleted"
                                      << "Lost"
                                      << "";
}

void RegistryFileTest::values()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    QFETCH(QString, value);
    const RegistryFile registry = RegistryFile::parse(QString::fromUtf8(kExport));
    QCOMPARE(registry.value(key, name), value);
    QVERIFY(!registry.keyExists(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Deleted")));
    QVERIFY(!registry.keyExists(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Broken")));
}

void RegistryFileTest::utf16ExportIsRead()
{
    // regedit writes its exports as UTF-16 with a byte-order mark.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("export.reg"));
    QByteArray utf16 =
        QTextCodec::codecForName("UTF-16LE")
            ->fromUnicode(QStringLiteral(
                "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Valve\\Steam]\r\n"
                "\"SteamPath\"=\"d:/стим\"\r\n"));
    QVERIFY(writeFile(path, QByteArray("\xFF\xFE", 2) + utf16));
    QCOMPARE(RegistryFile::load(path).value(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Valve\\Steam"),
                                            QStringLiteral("SteamPath")),
             QStringLiteral("d:/стим"));
}

void RegistryFileTest::missingFileIsEmpty()
{
    const RegistryFile registry = RegistryFile::load(QStringLiteral("/nonexistent/registry.reg"));
    QVERIFY(!registry.keyExists(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE")));
    QVERIFY(registry.keyExists(QStringLiteral("HKEY_LOCAL_MACHINE")));
}

void RegistryFileTest::typedValuesAndSubKeys()
{
    const RegistryFile registry = RegistryFile::parse(
        QString::fromUtf8(kExport) + QStringLiteral("[HKEY_CURRENT_USER\\SOFTWARE\\Valve\\Steam\\Apps\\730]\r\n"
                                                    "[HKEY_CURRENT_USER\\SOFTWARE\\Valve\\Steam]\r\n"
                                                    "\"Big\"=hex(b):01,00,00,00,00,00,00,80\r\n"
                                                    "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                                                    "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
                                                    "\"Gone\"=-\r\n"));
    const platform::RegistryKeyContents steam =
        registry.contents(QStringLiteral("hkey_current_user\\software\\valve\\STEAM"));
    QCOMPARE(steam.access, platform::RegistryKeyContents::Read);
    QCOMPARE(steam.subKeys, QStringList{"Apps"});
    QStringList names;
    for (const platform::RegistryValue &value : steam.values)
        names.append(value.name + QLatin1Char('=') + QString::number(value.type) + QLatin1Char(':') +
                     QString::fromLatin1(value.data.toHex()));
    QCOMPARE(names.size(), 9);
    QCOMPARE(names.mid(3, 2), (QStringList{"Number=4:01000000", "Binary=3:01020304"}));
    QCOMPARE(names.mid(6),
             (QStringList{"Big=11:0100000000000080", "Expand=2:2500410025000000", "Multi=7:610000000000"}));
    quint64 number = 0;
    QVERIFY(steam.value(QStringLiteral("big"))->number(number));
    QCOMPARE(number, Q_UINT64_C(0x8000000000000001));
    QCOMPARE(steam.value(QStringLiteral("Expand"))->text(), QStringLiteral("%A%"));
    QVERIFY(!steam.value(QStringLiteral("Gone")));
    QCOMPARE(registry.contents(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Nothing")).access,
             platform::RegistryKeyContents::Missing);
}

VIGILOR_GUILESS_TEST_MAIN(RegistryFileTest)
#include "RegistryFileTest.moc"
