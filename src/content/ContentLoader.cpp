#include "content/ContentLoader.h"

#include "content/NetworkHelper.h"
#include "content/ServerConfig.h"
#include "platform/FileSystem.h"
#include "platform/Programs.h"
#include "platform/RegistryHives.h"
#include "rules/FileScanner.h"
#include "rules/PathPlaceholders.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QProcess>

Q_LOGGING_CATEGORY(lcLoader, "vigilor.content.loader", QtWarningMsg)

namespace {
constexpr int kUnpackTimeoutMs = 30000;

QString invalidResponse()
{
    return QStringLiteral("Invalid response");
}
} // namespace

ContentLoader::ContentLoader(QObject *parent) : ContentLoader(QString::fromUtf8(kContentServerUrl), parent) {}

ContentLoader::ContentLoader(const QString &serverUrl, QObject *parent)
    : QObject(parent), baseUrl(serverUrl), network(new NetworkHelper)
{
    connect(network, &NetworkHelper::requestCompleted, this, &ContentLoader::onRequestCompleted);
}

ContentLoader::~ContentLoader()
{
    delete network;
}

ContentLoader *ContentLoader::instance()
{
    static ContentLoader *const loader = new ContentLoader;
    return loader;
}

QString ContentLoader::errorString() const
{
    return errorText.isEmpty() ? network->errorString() : errorText;
}

void ContentLoader::onRequestCompleted(bool success, QString)
{
    if (!success)
        return;
    ++loadedCount;
    emit partLoaded(loadedCount);
}

bool ContentLoader::load()
{
    stopRunningUtilities();
    if (!loadVersion() || !loadRules())
        return false;

    const QString tempDir = platform::temporaryFolder();
    if (tempDir.isEmpty()) {
        errorText = QStringLiteral("No private temporary folder can be made");
        return false;
    }
    if (!fetchFile(QStringLiteral("motd"), tempDir + QStringLiteral("/motd.html")))
        return false;
    motdText = network->replyText();
    if (!fetchFile(QStringLiteral("unzip/dll"), tempDir + QStringLiteral("/unzip32.dll")) ||
        !fetchFile(QStringLiteral("unzip/exe"), tempDir + QStringLiteral("/unzip.exe")) ||
        !fetchFile(QStringLiteral("pack"), tempDir + QStringLiteral("/data.zip")))
        return false;
    if (!unpackUtilities(tempDir) || !loadEverythingPattern())
        return false;
    loadDriverList();

    discoverFolders();
    return true;
}

bool ContentLoader::fetchDocument(const QString &path, QJsonObject &envelope)
{
    network->reset();
    return network->get(baseUrl + path) && network->parseEnvelope(network->replyText(), envelope);
}

bool ContentLoader::fetchFile(const QString &path, const QString &filePath)
{
    network->reset();
    return network->download(baseUrl + path, filePath);
}

bool ContentLoader::fetchPayload(const QString &path, const QString &member, QJsonObject &envelope)
{
    if (!fetchDocument(path, envelope))
        return false;
    if (!envelope.contains(member)) {
        errorText = invalidResponse();
        return false;
    }
    return true;
}

bool ContentLoader::loadVersion()
{
    QJsonObject envelope;
    if (!fetchPayload(QStringLiteral("version"), QStringLiteral("version"), envelope))
        return false;
    versionText = envelope.value(QStringLiteral("version")).toString();
    return true;
}

bool ContentLoader::loadRules()
{
    QJsonObject envelope;
    if (!fetchPayload(QStringLiteral("detection_data"), QStringLiteral("data"), envelope))
        return false;
    const QJsonObject data = envelope.value(QStringLiteral("data")).toObject();
    if (!data.contains(QStringLiteral("files"))) {
        errorText = invalidResponse();
        return false;
    }
    const QJsonArray files = data.value(QStringLiteral("files")).toArray();
    for (const QJsonValue &file : files)
        ruleList.append(DetectionRule::fromJson(file.toObject()));
    for (const QJsonValue &image : data.value(QStringLiteral("game_images")).toArray()) {
        if (!image.toString().isEmpty())
            gameImageList.append(image.toString());
    }
    // Signatures are compiled once, here: text that does not compile fails the load like any other
    // invalid document.
    const QString source = data.value(QStringLiteral("yara")).toString();
    if (source.trimmed().isEmpty())
        return true;
    QStringList processes;
    for (const QJsonValue &pattern : data.value(QStringLiteral("yara_processes")).toArray())
        processes.append(pattern.toString());
    QString reason;
    signatureRules = SignatureRules::compile(source, processes, reason);
    if (!signatureRules) {
        errorText = invalidResponse() + QStringLiteral(": ") + reason;
        return false;
    }
    return true;
}

void ContentLoader::loadDriverList()
{
    QJsonObject envelope;
    if (!fetchDocument(QStringLiteral("drivers"), envelope) ||
        !envelope.value(QStringLiteral("data")).toObject().value(QStringLiteral("drivers")).isArray()) {
        driverListProblem = errorString();
        if (driverListProblem.isEmpty())
            driverListProblem = invalidResponse();
        // The network's error is the list's, not the load's.
        network->reset();
        qCWarning(lcLoader) << "the driver list was not loaded:" << driverListProblem;
        return;
    }
    driverListData =
        std::make_shared<DriverList>(DriverList::fromJson(envelope.value(QStringLiteral("data")).toObject()));
}

bool ContentLoader::loadEverythingPattern()
{
    QJsonObject envelope;
    if (!fetchPayload(QStringLiteral("everything"), QStringLiteral("data"), envelope))
        return false;
    everythingText = envelope.value(QStringLiteral("data")).toString();
    return true;
}

void ContentLoader::stopRunningUtilities()
{
    // Running copies would keep their files locked while the archive folder is replaced.
    const QStringList images = {QStringLiteral("Everything.exe"),    QStringLiteral("shellbag_analyzer_cleaner.exe"),
                                QStringLiteral("ProcessHacker.exe"), QStringLiteral("AnyDesk.exe"),
                                QStringLiteral("USBDeview.exe"),     QStringLiteral("LastActivityView.exe")};
    for (const QString &image : images)
        platform::endProgram(image);
}

bool ContentLoader::unpackUtilities(const QString &tempDir)
{
    QDir::setCurrent(tempDir);
    // By absolute path: should the change of directory have failed, a relative "data" would name a
    // folder wherever the program was started. Whatever survives (a tool still running, a file the
    // player keeps locked) would be mixed with the new archive, so it fails the load instead.
    const QString dataDir = tempDir + QStringLiteral("/data");
    if (!platform::removeTree(dataDir)) {
        errorText = QStringLiteral("Cannot remove the old folder %1").arg(QDir::toNativeSeparators(dataDir));
        return false;
    }

    QProcess unpacker;
    unpacker.setWorkingDirectory(tempDir);
    unpacker.start(platform::unpackerProgram(tempDir), {QStringLiteral("data.zip")});
    // Nobody answers the tool's questions: one that asks gets end of input instead of waiting.
    unpacker.closeWriteChannel();
    if (!unpacker.waitForFinished(kUnpackTimeoutMs)) {
        errorText = unpacker.errorString();
        qCWarning(lcLoader) << "unpacking failed:" << errorText;
        // A tool that hangs is not left behind.
        unpacker.kill();
        unpacker.waitForFinished(1000);
        return false;
    }
    // A broken archive leaves the tools missing or half unpacked.
    if (unpacker.exitStatus() != QProcess::NormalExit) {
        errorText = QStringLiteral("The unpacking tool crashed (exit status %1)").arg(unpacker.exitCode());
        return false;
    }
    if (unpacker.exitCode() != 0) {
        errorText = QStringLiteral("The unpacking tool failed with exit status %1").arg(unpacker.exitCode());
        return false;
    }
    QDir::setCurrent(dataDir);
    return true;
}

QString ContentLoader::lookUpFolder(HKEY hive, const QString &subKey, const QString &valueName, const QString &warning)
{
    QString folder;
    {
        FileScanner scanner;
        if (scanner.registryKeyExists(subKey, hive))
            folder = platform::registryValue(platform::registryHiveName(hive) + QLatin1Char('\\') + subKey, valueName);
    }
    if (folder.isEmpty())
        QMessageBox::warning(nullptr, tr("Предупреждение"), warning);
    return folder;
}

void ContentLoader::discoverFolders()
{
    gameFolder = lookUpFolder(
        HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 730"),
        QStringLiteral("InstallLocation"), tr("Папка игры не найдена, некоторые опции могут работать некорректно!"));
    setPlaceholder(QStringLiteral("gamedir"), gameFolder);
    steamFolder = lookUpFolder(HKEY_CURRENT_USER, QStringLiteral("SOFTWARE\\Valve\\Steam"), QStringLiteral("SteamPath"),
                               tr("Папка Steam не найдена, некоторые опции могут работать некорректно!"));
}
