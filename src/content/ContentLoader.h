#pragma once

#include "platform/Registry.h"
#include "rules/DetectionRule.h"
#include "rules/DriverList.h"
#include "rules/Signatures.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>

class NetworkHelper;
class QJsonObject;

// The process-wide holder of everything fetched from the content server at start (version, detection
// rules, message of the day, search expression, the unpacked utilities) and of the game and Steam
// folders found on the machine. Loaded once by the start-up gate; read-only afterwards.
class ContentLoader : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ContentLoader)

public:
    // A loader of the compiled-in content server.
    explicit ContentLoader(QObject *parent = nullptr);
    // A loader of the server at `serverUrl` (an HTTPS URL ending in "/").
    explicit ContentLoader(const QString &serverUrl, QObject *parent = nullptr);
    ~ContentLoader() override;

    // The single loader of the process, created on first use and never destroyed.
    static ContentLoader *instance();

    bool load();
    QString errorString() const;

    // The content server's base URL, for the pages that ask it more.
    QString serverUrl() const { return baseUrl; }
    QString motd() const { return motdText; }
    QString version() const { return versionText; }
    QString everythingPattern() const { return everythingText; }
    QString gameDir() const { return gameFolder; }
    QString steamDir() const { return steamFolder; }
    QList<DetectionRule> rules() const { return ruleList; }
    // The game's program names the detection data adds to csgo.exe.
    QStringList gameImages() const { return gameImageList; }
    // The league's list of vulnerable and malicious drivers, and why it is not there (empty when it is).
    std::shared_ptr<const DriverList> driverList() const { return driverListData; }
    QString driverListError() const { return driverListProblem; }
    // The YARA rules of the detection data; null when it has none.
    std::shared_ptr<const SignatureRules> signatures() const { return signatureRules; }

signals:
    void partLoaded(int);

protected slots:
    void onRequestCompleted(bool, QString);

private:
    bool fetchDocument(const QString &path, QJsonObject &envelope);
    bool fetchFile(const QString &path, const QString &filePath);
    // Fetches a JSON document and requires its payload member ("Invalid response" without it).
    bool fetchPayload(const QString &path, const QString &member, QJsonObject &envelope);
    bool loadVersion();
    bool loadRules();
    bool loadEverythingPattern();
    // Never fails the start: a list that cannot be had is named on the drivers page instead.
    void loadDriverList();
    bool unpackUtilities(const QString &tempDir);
    void stopRunningUtilities();
    void discoverFolders();
    // The folder in the registry value, or an empty text after a warning to the user.
    QString lookUpFolder(HKEY hive, const QString &subKey, const QString &valueName, const QString &warning);

    const QString baseUrl;
    qint32 loadedCount = 0;
    QString errorText;
    NetworkHelper *network = nullptr;
    QString motdText;
    QString versionText;
    QString everythingText;
    QString gameFolder;
    QString steamFolder;
    QList<DetectionRule> ruleList;
    QStringList gameImageList;
    std::shared_ptr<const SignatureRules> signatureRules;
    std::shared_ptr<const DriverList> driverListData = std::make_shared<DriverList>();
    QString driverListProblem;
};
