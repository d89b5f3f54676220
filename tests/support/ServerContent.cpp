#include "ServerContent.h"

#include "ModalCloser.h"
#include "TestEnvironment.h"
#include "TestServer.h"
#include "content/ContentLoader.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUuid>

QByteArray makeZip(const QString &workDir, const QMap<QString, QByteArray> &files)
{
    const QString scratch = workDir + QStringLiteral("/zip-") + QUuid::createUuid().toString(QUuid::Id128);
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = scratch + QLatin1Char('/') + it.key();
        if (!writeFile(path, it.value()))
            return {};
        if (it.value().startsWith("#!"))
            QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    }
    QProcess zip;
    zip.setWorkingDirectory(scratch);
    zip.start(QStringLiteral("zip"),
              QStringList{QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("archive.zip")} +
                  QDir(scratch).entryList(QDir::AllEntries | QDir::NoDotAndDotDot));
    if (!zip.waitForFinished(30000) || zip.exitCode() != 0)
        return {};
    const QByteArray archive = readFile(scratch + QStringLiteral("/archive.zip"));
    QDir(scratch).removeRecursively();
    return archive;
}

QByteArray okEnvelope(const char *member, const QByteArray &value)
{
    return QByteArray("{\"ok\":true,\"") + member + "\":" + value + '}';
}

bool serveCompleteContent(TestServer &server, const QString &workDir, const QString &version)
{
    const QByteArray tool = "#!/bin/sh\nexit 0\n";
    const QByteArray pack = makeZip(workDir, {{QStringLiteral("data/Everything.exe"), tool},
                                              {QStringLiteral("data/shellbag_analyzer_cleaner.exe"), tool},
                                              {QStringLiteral("data/LastActivityView.exe"), tool},
                                              {QStringLiteral("data/AnyDesk.exe"), tool},
                                              {QStringLiteral("data/ProcessHacker/ProcessHacker.exe"), tool},
                                              {QStringLiteral("data/USBDeview/USBDeviewx64/USBDeview.exe"), tool},
                                              {QStringLiteral("data/USBDeview/USBDeviewx32/USBDeview.exe"), tool}});
    const QByteArray unzip = readFile(QStandardPaths::findExecutable(QStringLiteral("unzip")));
    if (pack.isEmpty() || unzip.isEmpty())
        return false;
    server.setReply(QStringLiteral("version"), okEnvelope("version", '"' + version.toUtf8() + '"'));
    server.setReply(QStringLiteral("detection_data"), okEnvelope("data", "{\"files\":[]}"));
    server.setReply(QStringLiteral("motd"), "<p>Vigilor ${version}</p>");
    server.setReply(QStringLiteral("unzip/dll"), "unpacker library");
    server.setReply(QStringLiteral("unzip/exe"), unzip);
    server.setReply(QStringLiteral("pack"), pack);
    server.setReply(QStringLiteral("everything"), okEnvelope("data", "\"cheat|hack\""));
    return true;
}

bool loadProcessWideLoader(ScopedEnvironment &environment, const QString &folder, const QByteArray &registry)
{
    const QString tmp = folder + QStringLiteral("/tmp");
    const QString registryFile = folder + QStringLiteral("/registry.reg");
    if (!QDir().mkpath(tmp) ||
        !writeFile(registryFile,
                   registry.isEmpty() ? QByteArray("Windows Registry Editor Version 5.00\r\n") : registry))
        return false;
    environment.set("TMPDIR", tmp);
    environment.set("VIGILOR_REGISTRY_FILE", registryFile);
    ModalCloser folderWarnings;
    return ContentLoader::instance()->load();
}
