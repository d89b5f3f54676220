#include "drivers/DriverFile.h"
#include "TestEnvironment.h"
#include "TestMain.h"
#include "TraceFixtures.h"
#include "drivers/PeImage.h"
#include "platform/Kernel.h"
#include "platform/System.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

// A driver file read once: its digests against the signing tool's own, its embedded signature, and
// under Windows (Wine) what the system says of the kernel and of one of its own drivers.
class DriverFileTest : public QObject
{
    Q_OBJECT

private slots:
    void signedByTheSigningTool();
    void layouts_data();
    void layouts();
    void systemAnswers();
};

namespace {
QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAll());
}

// "Calculated message digest : 0A1B…" of the signing tool's verification, lower-case.
QString calculatedDigest(const QString &tool, const QString &file)
{
    const QString out = run(tool, {QStringLiteral("verify"), QStringLiteral("-in"), file});
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Calculated message digest")))
            return line.section(QLatin1Char(':'), 1).trimmed().section(QLatin1Char(' '), 0, 0).toLower();
    }
    return QString();
}
} // namespace

// An unsigned image, the same signed by osslsigncode with a throwaway certificate, and one changed
// after signing: the Authenticode digests agree with the tool's, the signature names its signer, and
// a change breaks it.
void DriverFileTest::signedByTheSigningTool()
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("osslsigncode"));
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (tool.isEmpty() || openssl.isEmpty())
        QSKIP("osslsigncode and openssl sign the fixtures; not on this system");
    QTemporaryDir dir;
    const QString unsignedFile = dir.filePath(QStringLiteral("unsigned.sys"));
    QVERIFY(writeFile(unsignedFile, peImage(QByteArray("driver code ").repeated(40))));
    run(openssl,
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
         QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
         QStringLiteral("/CN=Vigilor Test Signer"), QStringLiteral("-keyout"), dir.filePath(QStringLiteral("key.pem")),
         QStringLiteral("-out"), dir.filePath(QStringLiteral("cert.pem"))});
    const QString signedFile = dir.filePath(QStringLiteral("signed.sys"));
    run(tool, {QStringLiteral("sign"), QStringLiteral("-certs"), dir.filePath(QStringLiteral("cert.pem")),
               QStringLiteral("-key"), dir.filePath(QStringLiteral("key.pem")), QStringLiteral("-h"),
               QStringLiteral("sha256"), QStringLiteral("-in"), unsignedFile, QStringLiteral("-out"), signedFile});
    QVERIFY(QFile::exists(signedFile));
    QByteArray changed = readFile(signedFile);
    changed[0x210] = char(changed.at(0x210) ^ 0x20);
    const QString changedFile = dir.filePath(QStringLiteral("changed.sys"));
    QVERIFY(writeFile(changedFile, changed));

    const DriverFileFacts plain = examineDriverFile(unsignedFile);
    const DriverFileFacts signature = examineDriverFile(signedFile);
    const DriverFileFacts broken = examineDriverFile(changedFile);
    QCOMPARE(signature.authenticode, calculatedDigest(tool, signedFile));
    QCOMPARE(broken.authenticode, calculatedDigest(tool, changedFile));
    // The signature and the checksum are not part of the digest: signing does not change it.
    QCOMPARE(plain.authenticode, signature.authenticode);
    QVERIFY(broken.authenticode != signature.authenticode);
    QCOMPARE(plain.sha256,
             QString::fromLatin1(QCryptographicHash::hash(readFile(unsignedFile), QCryptographicHash::Sha256).toHex()));

    QCOMPARE(int(plain.signature), int(SignatureVerdict::NotChecked));
    QCOMPARE(int(signature.signature), int(SignatureVerdict::Embedded));
    QCOMPARE(signature.signer, QStringLiteral("Vigilor Test Signer"));
    QCOMPARE(int(broken.signature), int(SignatureVerdict::Broken));
    QCOMPARE(broken.signer, QStringLiteral("Vigilor Test Signer"));
}

void DriverFileTest::layouts_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("problem");
    const QByteArray good = peImage("x");
    QByteArray farHeader = good;
    qToLittleEndian<quint32>(0x7fffffff, farHeader.data() + 0x3c);
    QByteArray outside = good;
    // The certificate table's entry pointing past the end of the file.
    qToLittleEndian<quint32>(0x300, outside.data() + 0x44 + 20 + 112 + 32);
    qToLittleEndian<quint32>(0x10000, outside.data() + 0x44 + 20 + 112 + 36);
    QTest::newRow("a driver") << good << true << QString();
    QTest::newRow("not a PE file") << QByteArray("MZ") + QByteArray(100, 'x') << false << QStringLiteral("не PE-файл");
    QTest::newRow("header past the end") << farHeader << false << QStringLiteral("не PE-файл");
    QTest::newRow("cut headers") << good.left(0x60) << false << QStringLiteral("PE-заголовок обрезан");
    QTest::newRow("table outside the file")
        << outside << true << QStringLiteral("таблица сертификатов вне своего места");
}

void DriverFileTest::layouts()
{
    QFETCH(QByteArray, image);
    QFETCH(bool, valid);
    QFETCH(QString, problem);
    const PeLayout layout = readPeLayout(image);
    QCOMPARE(layout.valid, valid);
    QCOMPARE(layout.problem, problem);
    QCOMPARE(authenticodeDigest(image, layout).isEmpty(), !valid);
}

// The system answers each question or says why not; one of its own drivers is hashed, digested and
// its signature asked about.
void DriverFileTest::systemAnswers()
{
#if !defined(Q_OS_WIN)
    QSKIP("the system's own answers are asked on Windows");
#else
    const platform::KernelAnswer integrity = platform::codeIntegrityOptions();
    const platform::KernelAnswer debugger = platform::kernelDebugger();
    const platform::LoadedDrivers loaded = platform::loadedDrivers();
    QVERIFY2(integrity.known || !integrity.why.isEmpty(), "code integrity: neither an answer nor a reason");
    QVERIFY2(debugger.known || !debugger.why.isEmpty(), "debugger: neither an answer nor a reason");
    QVERIFY2(loaded.read || !loaded.why.isEmpty(), "loaded drivers: neither a list nor a reason");
    qInfo() << "code integrity" << integrity.known << integrity.value << integrity.why << "debugger" << debugger.known
            << debugger.value << debugger.why << "drivers" << loaded.paths.size() << loaded.why;
    const QString drivers =
        platform::knownFolderPath(QLatin1String(platform::knownFolder::kSystem)) + QStringLiteral("\\drivers");
    const QStringList files = QDir(drivers).entryList({QStringLiteral("*.sys")}, QDir::Files);
    QVERIFY(!files.isEmpty());
    const DriverFileFacts facts = examineDriverFile(drivers + QLatin1Char('\\') + files.first());
    QVERIFY(facts.read);
    QCOMPARE(facts.sha256.size(), 64);
    QCOMPARE(facts.sha1.size(), 40);
    QCOMPARE(facts.authenticode.size(), 64);
    QVERIFY(facts.trustAsked);
    QVERIFY(facts.signature != SignatureVerdict::NotChecked);
#endif
}

VIGILOR_GUILESS_TEST_MAIN(DriverFileTest)
#include "DriverFileTest.moc"
