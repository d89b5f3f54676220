#include "Intake.h"
#include "ProxyProtocol.h"
#include "TestMain.h"

#include <QTest>

// What the reference server reads from clients before anything else: the balancer's PROXY line and
// the addresses it compares, and the text of a report.
class ServerPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void proxyLine_data();
    void proxyLine();
    void addressForms_data();
    void addressForms();
    void reportText_data();
    void reportText();
};

void ServerPartsTest::proxyLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("source"); // "-": refused

    QTest::newRow("TCP4") << QByteArray("PROXY TCP4 10.9.9.2 10.0.0.10 51000 8443") << "10.9.9.2";
    QTest::newRow("TCP6") << QByteArray("PROXY TCP6 2001:db8::0:1 2001:db8::10 51000 8443") << "2001:db8::1";
    QTest::newRow("TCP6 carrying an IPv4 peer") << QByteArray("PROXY TCP6 ::ffff:10.9.9.2 ::1 1 2") << "10.9.9.2";
    QTest::newRow("no ports") << QByteArray("PROXY TCP4 10.9.9.2") << "-";
    QTest::newRow("trailing garbage") << QByteArray("PROXY TCP4 10.9.9.2 10.0.0.10 51000 8443 x") << "-";
    QTest::newRow("a NUL inside") << QByteArray("PROXY TCP4 10.9.9.2\0 10.0.0.10 51000 8443", 41) << "-";
    QTest::newRow("UNKNOWN") << QByteArray("PROXY UNKNOWN") << "-";
    QTest::newRow("UNKNOWN with addresses") << QByteArray("PROXY UNKNOWN ::1 ::1 1 2") << "-";
    QTest::newRow("family and address disagree") << QByteArray("PROXY TCP4 ::1 10.0.0.10 1 2") << "-";
    QTest::newRow("port past 65535") << QByteArray("PROXY TCP4 10.9.9.2 10.0.0.10 65536 8443") << "-";
    QTest::newRow("port with a leading zero") << QByteArray("PROXY TCP4 10.9.9.2 10.0.0.10 0443 8443") << "-";
    QTest::newRow("two spaces") << QByteArray("PROXY TCP4  10.9.9.2 10.0.0.10 1 2") << "-";
    QTest::newRow("too long") << QByteArray("PROXY TCP6 ") + QByteArray(100, '1') << "-";
}

void ServerPartsTest::proxyLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, source);
    const std::optional<std::string> found = proxySource(line.toStdString());
    QCOMPARE(found ? QString::fromStdString(*found) : QStringLiteral("-"), source);
}

void ServerPartsTest::addressForms_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("normal");
    QTest::newRow("IPv4-mapped") << "::ffff:127.0.0.2"
                                 << "127.0.0.2";
    QTest::newRow("IPv4-mapped, hex") << "::FFFF:7f00:2"
                                      << "127.0.0.2";
    QTest::newRow("IPv4") << "127.0.0.2"
                          << "127.0.0.2";
    QTest::newRow("IPv6, long form") << "2001:0db8:0000:0000:0000:0000:0000:0001"
                                     << "2001:db8::1";
    QTest::newRow("no address") << "localhost"
                                << "localhost";
}

void ServerPartsTest::addressForms()
{
    QFETCH(QString, given);
    QFETCH(QString, normal);
    QCOMPARE(QString::fromStdString(normalAddress(given.toStdString())), normal);
}

void ServerPartsTest::reportText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("fault");
    const QByteArray deep = QByteArray(64, '[') + QByteArray(64, ']');
    QTest::newRow("a report") << QByteArray(R"({"format":"vigilor-report/1","events":[{"type":"scan"}]})") << "";
    const QByteArray format = R"("format":"vigilor-report/1",)";
    QTest::newRow("64 deep") << "{" + format + "\"e\":" + QByteArray(63, '[') + QByteArray(63, ']') + "}"
                             << "";
    QTest::newRow("65 deep") << "{\"e\":" + deep + "}"
                             << "nested deeper than 64 levels";
    QTest::newRow("50,000 deep") << QByteArray(50000, '[') << "nested deeper than 64 levels";
    QTest::newRow("a key twice, nested") << QByteArray(R"({"a":{"b":1,"b":2}})")
                                         << "the key \"b\" appears twice in one object";
    QTest::newRow("one key in two objects") << "{" + format + R"("a":{"b":1},"c":{"b":2}})"
                                            << "";
    // Refused before any tree is built: the format, and what the bytes would expand into.
    QTest::newRow("no format") << QByteArray(R"({"events":[]})") << "format must be vigilor-report/1";
    QTest::newRow("another format") << QByteArray(R"({"format":"other"})") << "format must be vigilor-report/1";
    QTest::newRow("the format nested") << QByteArray(R"({"a":{"format":"vigilor-report/1"}})")
                                       << "format must be vigilor-report/1";
    QTest::newRow("not an object") << QByteArray(R"(["vigilor-report/1"])") << "format must be vigilor-report/1";
    QTest::newRow("2,000,000 empty objects") << "{" + format + "\"e\":[{}" + QByteArray(",{}").repeated(1999999) + "]}"
                                             << "more than 1000000 values";
    QTest::newRow("NUL in a string") << QByteArray(R"({"machine":"PC-\u0000-HIDDEN"})")
                                     << "a NUL character in a string";
    QTest::newRow("NUL in a key") << QByteArray(R"({"m\u0000":1})") << "a NUL character in a key";
    QTest::newRow("cut short") << QByteArray(R"({"format":)") << "not JSON (at byte 11)";
}

void ServerPartsTest::reportText()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, fault);
    QCOMPARE(QString::fromStdString(reportTextFault(text.toStdString())), fault);
}

VIGILOR_GUILESS_TEST_MAIN(ServerPartsTest)
#include "ServerPartsTest.moc"
