#include "ServerContent.h"
#include "TestPki.h"
#include <QProcess>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

#include "ModalCloser.h"
#include "TestEnvironment.h"
#include "TestServer.h"
#include "content/ContentLoader.h"

#include <QDir>
#include <QFile>
#include <QMap>

namespace {
quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : data) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put16(QByteArray &out, quint32 value)
{
    out.append(static_cast<char>(value & 0xff)).append(static_cast<char>((value >> 8) & 0xff));
}

void put32(QByteArray &out, quint32 value)
{
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

// Stored entries (no compression), written here so that no zip tool is needed on any system. Every
// entry is marked executable (Unix mode 0755): the archives hold program stand-ins.
QByteArray makeZip(const QMap<QString, QByteArray> &files)
{
    QByteArray archive;
    QByteArray directory;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QByteArray name = it.key().toUtf8();
        const QByteArray &data = it.value();
        const quint32 offset = static_cast<quint32>(archive.size());
        const quint32 checksum = crc32(data);
        const quint32 size = static_cast<quint32>(data.size());
        put32(archive, 0x04034b50);
        for (const quint32 field : {10u, 0x800u, 0u, 0u, 0x21u}) // version, UTF-8 names, stored, time, date
            put16(archive, field);
        put32(archive, checksum);
        put32(archive, size);
        put32(archive, size);
        put16(archive, static_cast<quint32>(name.size()));
        put16(archive, 0);
        archive += name + data;

        put32(directory, 0x02014b50);
        for (const quint32 field : {0x031eu, 10u, 0x800u, 0u, 0u, 0x21u})
            put16(directory, field);
        put32(directory, checksum);
        put32(directory, size);
        put32(directory, size);
        for (const quint32 field : {static_cast<quint32>(name.size()), 0u, 0u, 0u, 0u})
            put16(directory, field);
        put32(directory, 0100755u << 16);
        put32(directory, offset);
        directory += name;
    }
    const quint32 directoryOffset = static_cast<quint32>(archive.size());
    archive += directory;
    put32(archive, 0x06054b50);
    for (const quint32 field : {0u, 0u, static_cast<quint32>(files.size()), static_cast<quint32>(files.size())})
        put16(archive, field);
    put32(archive, static_cast<quint32>(directory.size()));
    put32(archive, directoryOffset);
    put16(archive, 0);
    return archive;
}

} // namespace

void setTemporaryFolder(ScopedEnvironment &environment, const QString &folder)
{
    // TMPDIR elsewhere, TMP and TEMP on Windows.
    for (const char *name : {"TMPDIR", "TMP", "TEMP"})
        environment.set(name, folder);
}

QByteArray okEnvelope(const char *member, const QByteArray &value)
{
    return QByteArray("{\"ok\":true,\"") + member + "\":" + value + '}';
}

bool serveCompleteContent(TestServer &server, const QString &version)
{
    const QByteArray tool = recorderProgram();
    const QByteArray pack = makeZip({{QStringLiteral("data/Everything.exe"), tool},
                                     {QStringLiteral("data/shellbag_analyzer_cleaner.exe"), tool},
                                     {QStringLiteral("data/LastActivityView.exe"), tool},
                                     {QStringLiteral("data/AnyDesk.exe"), tool},
                                     {QStringLiteral("data/ProcessHacker/ProcessHacker.exe"), tool},
                                     {QStringLiteral("data/USBDeview/USBDeviewx64/USBDeview.exe"), tool},
                                     {QStringLiteral("data/USBDeview/USBDeviewx32/USBDeview.exe"), tool}});
    // The system's unzip, or the Windows toolchain's unzip.exe.
    const QByteArray unzip = readFile(QStringLiteral(VIGILOR_TEST_UNZIP));
    if (unzip.isEmpty())
        return false;
    server.setReply(QStringLiteral("version"), okEnvelope("version", '"' + version.toUtf8() + '"'));
    server.setReply(QStringLiteral("detection_data"), okEnvelope("data", "{\"files\":[]}"));
    server.setReply(QStringLiteral("motd"), "<p>Vigilor ${version}</p>");
    server.setReply(QStringLiteral("unzip/dll"), "unpacker library");
    server.setReply(QStringLiteral("unzip/exe"), unzip);
    server.setReply(QStringLiteral("pack"), pack);
    server.setReply(QStringLiteral("everything"), okEnvelope("data", "\"cheat|hack\""));
    server.setReply(QStringLiteral("drivers"),
                    okEnvelope("data", "{\"drivers\":[{\"name\":\"RTCore64.sys\",\"category\":\"vulnerable\","
                                       "\"sha1\":[\"f6f11ad2cd2b0cf95ed42324876bee1d83e01775\"]}]}"));
    return true;
}

bool loadProcessWideLoader(ScopedEnvironment &environment, const QString &folder, const QByteArray &registry)
{
    const QString tmp = folder + QStringLiteral("/tmp");
    const QString registryFile = folder + QStringLiteral("/registry.reg");
    if (!QDir().mkpath(tmp) ||
        !useRegistry(environment, registryFile,
                     registry.isEmpty() ? QByteArray("Windows Registry Editor Version 5.00\r\n") : registry))
        return false;
    setTemporaryFolder(environment, tmp);
    ModalCloser folderWarnings;
    return ContentLoader::instance()->load();
}

// Starts the reference content server `program` with `extra` options and waits until it listens.
bool startContentServer(QProcess &process, const QString &program, const TestPki &pki, const QString &content,
                        const QStringList &extra, int &port)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return false;
    port = probe.serverPort();
    probe.close();
    process.start(program,
                  QStringList{QStringLiteral("--content"), content, QStringLiteral("--cert"), pki.certPath(),
                              QStringLiteral("--key"), pki.keyPath(), QStringLiteral("--port"), QString::number(port)} +
                      extra);
    return process.waitForStarted() && waitUntilListening(port);
}

bool waitUntilListening(int port)
{
    for (int i = 0; i < 100; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (socket.waitForConnected(200))
            return true;
        QTest::qWait(100);
    }
    return false;
}

std::unique_ptr<QSslSocket> connectFrom(const QString &source, int port)
{
    auto socket = std::make_unique<QSslSocket>();
    if (socket->bind(QHostAddress(source))) {
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        socket->waitForEncrypted(5000);
    }
    return socket;
}

void sendAll(QSslSocket &socket, const QByteArray &bytes)
{
    socket.write(bytes);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(5000)) {
    }
}

QByteArray getVersionFrom(const QString &source, int port)
{
    return getFrom(source, port, "/version");
}

QByteArray getFrom(const QString &source, int port, const QByteArray &path, const QByteArray &headers)
{
    return requestFrom(source, port, "GET " + path, headers, QByteArray());
}

QByteArray requestFrom(const QString &source, int port, const QByteArray &requestLine, const QByteArray &headers,
                       const QByteArray &body)
{
    const std::unique_ptr<QSslSocket> connection = connectFrom(source, port);
    QSslSocket &socket = *connection;
    if (!socket.isEncrypted())
        return socket.errorString().toUtf8();
    // A chunked body carries its own lengths.
    const QByteArray length = body.isNull() || headers.contains("Transfer-Encoding")
                                  ? QByteArray()
                                  : "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    socket.write(requestLine + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + length + "Connection: close\r\n\r\n" +
                 body);
    QByteArray answer;
    while (socket.waitForReadyRead(20000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

// GetPlayerBans as documented, for the ids asked: the ids ending in 1 VAC-banned 42 days ago.
QByteArray steamPlayerBans(const std::string &query)
{
    const QUrlQuery parameters(QString::fromStdString(query));
    QByteArray players;
    for (const QString &id :
         parameters.queryItemValue(QStringLiteral("steamids"), QUrl::FullyDecoded).split(QLatin1Char(','))) {
        const bool vac = id.endsWith(QLatin1Char('1'));
        players += (players.isEmpty() ? "" : ",") + QStringLiteral("{\"SteamId\":\"%1\",\"CommunityBanned\":false,"
                                                                   "\"VACBanned\":%2,\"NumberOfVACBans\":%3,"
                                                                   "\"DaysSinceLastBan\":42,\"NumberOfGameBans\":0,"
                                                                   "\"EconomyBan\":\"none\"}")
                                                        .arg(id, vac ? "true" : "false", vac ? "1" : "0")
                                                        .toUtf8();
    }
    return "{\"players\":[" + players + "]}";
}
