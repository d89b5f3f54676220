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

VIGILOR_GUILESS_TEST_MAIN(RegistryFileTest)
#include "RegistryFileTest.moc"
