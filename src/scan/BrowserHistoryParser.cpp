#include "scan/BrowserHistoryParser.h"

#include "platform/FileSystem.h"
#include "platform/Programs.h"
#include "scan/PathPlaceholders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>

#include <functional>

// The texts that tell one browser of the Chromium family from another.
struct ChromiumBrowser
{
    const char *image;      // the program image taskkill ends
    const char *connection; // the database connection's name
    const char *name;       // shown beside findings
    const char *root;       // before expansion: "User Data", or the one profile's folder
    bool profiles;          // `root` holds profile folders, Default first
    bool defaultUnlabelled; // findings of the first profile keep their lines of old
};

namespace {
const ChromiumBrowser kChrome{"chrome.exe", "chrome", "Google Chrome", "%appdata%/../Local/Google/Chrome/User Data",
                              true,         true};
const ChromiumBrowser kYandex{
    "browser.exe", "yandex", "Yandex Browser", "%appdata%/../Local/Yandex/YandexBrowser/User Data", true, true};
const ChromiumBrowser kOpera{"opera.exe", "opera", "Opera", "%appdata%/Opera Software/Opera Stable", false, true};
const ChromiumBrowser kEdge{"msedge.exe", "edge", "Microsoft Edge", "%appdata%/../Local/Microsoft/Edge/User Data",
                            true,         false};
const ChromiumBrowser kBrave{"brave.exe", "brave", "Brave", "%appdata%/../Local/BraveSoftware/Brave-Browser/User Data",
                             true,        false};
const ChromiumBrowser kVivaldi{"vivaldi.exe", "vivaldi", "Vivaldi", "%appdata%/../Local/Vivaldi/User Data",
                               true,          false};
const ChromiumBrowser kChromium{"chrome.exe", "chromium", "Chromium", "%appdata%/../Local/Chromium/User Data",
                                true,         false};
const ChromiumBrowser kOperaGx{"opera.exe", "operagx", "Opera GX", "%appdata%/Opera Software/Opera GX Stable",
                               false,       false};

const QString kDefaultProfile = QStringLiteral("Default");
const QString kHistory = QStringLiteral("History");

// Reads rows of an open database into `found`; false when a query failed.
using DatabaseReader = std::function<bool(QSqlDatabase &, QStringList &found)>;

// Opens `path` with `options` under `connectionName` and reads it; false when it could not be read.
// Nothing of the connection outlives the read.
bool readWith(const QString &connectionName, const QString &path, const QString &options, const DatabaseReader &reader,
              QStringList &found)
{
    bool read = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        database.setDatabaseName(path);
        database.setConnectOptions(options);
        if (database.open())
            read = reader(database, found);
        database.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    return read;
}

// Reads the browser database at `path` without changing it or creating anything beside it. False
// when there is no such file.
bool readBrowserDatabase(const QString &connectionName, const QString &givenPath, const DatabaseReader &reader,
                         QStringList &found)
{
    // ".." is taken away by name, as Windows does, whether or not the folder before it exists.
    const QString path = QDir::cleanPath(givenPath);
    const QFileInfo original(path);
    if (!original.isFile())
        return false;

    // Read-only, with a short busy timeout: a browser that still holds its lock costs a moment. A
    // database in write-ahead mode is not opened in place at all, since even a read-only connection
    // writes the shared-memory index beside it.
    const QString wal = path + QStringLiteral("-wal");
    if (!QFileInfo::exists(wal)) {
        QStringList direct;
        if (readWith(connectionName, path, QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=200"), reader,
                     direct)) {
            found += direct;
            return true;
        }
    }

    // Locked, or left with a journal to finish: read a private copy of the file and its companions.
    const QString temporary = platform::temporaryFolder();
    if (temporary.isEmpty())
        return true;
    QTemporaryDir snapshot(temporary + QStringLiteral("/vigilor-snapshot-XXXXXX"));
    if (!snapshot.isValid())
        return true;
    const QString copy = snapshot.filePath(original.fileName());
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        if (!QFileInfo::exists(path + suffix))
            continue;
        if (!QFile::copy(path + suffix, copy + suffix))
            return true;
        // A read-only original gives a read-only copy, which SQLite could not roll forward or back.
        QFile::setPermissions(copy + suffix, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    // The copy is ours, so it is opened for writing: SQLite may replay or roll back the journal in it.
    QStringList fromCopy;
    if (readWith(connectionName, copy, QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"), reader, fromCopy))
        found += fromCopy;
    return true;
}

// Appends the first column of every row of `statement`, skipping NULLs; false when it failed.
bool readColumn(QSqlDatabase &database, const QString &statement, QStringList &found)
{
    QSqlQuery query(database);
    query.setForwardOnly(true);
    if (!query.exec(statement))
        return false;
    QStringList rows;
    while (query.next()) {
        if (!query.isNull(0))
            rows.append(query.value(0).toString());
    }
    if (query.lastError().isValid())
        return false;
    found += rows;
    return true;
}

bool readKeywordSearchTerms(QSqlDatabase &database, QStringList &found)
{
    return readColumn(database, QStringLiteral("select term from keyword_search_terms order by url_id desc"), found);
}

bool readFirefoxSearchBar(QSqlDatabase &database, QStringList &found)
{
    return readColumn(database,
                      QStringLiteral("select value from moz_formhistory where fieldname = 'searchbar-history' "
                                     "order by lastUsed desc"),
                      found);
}

bool readFirefoxResultPages(QSqlDatabase &database, QStringList &found)
{
    QStringList urls;
    // Only addresses with a query that could hold the search text are looked at closely.
    if (!readColumn(database,
                    QStringLiteral("select url from moz_places where url like '%q=%' or url like '%text=%' "
                                   "order by last_visit_date desc"),
                    urls))
        return false;
    for (const QString &url : qAsConst(urls)) {
        const QString term = searchTermOfResultPage(QUrl(url));
        if (!term.isEmpty())
            found.append(term);
    }
    return true;
}

void appendFound(const QStringList &found, const QString &browser, const QString &profile, bool sourceShown,
                 QList<SearchTerm> &terms)
{
    for (const QString &term : found)
        terms.append(SearchTerm{term, browser, profile, sourceShown});
}

// The key/value pairs of each section of an INI text, sections in the file's order.
QList<QPair<QString, QHash<QString, QString>>> iniSections(const QString &path)
{
    QList<QPair<QString, QHash<QString, QString>>> sections;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return sections;
    // Bounded: the file is the player's, and a profile list is a few hundred bytes.
    const QString text = QString::fromUtf8(file.read(1024 * 1024));
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            sections.append({line.mid(1, line.size() - 2), {}});
        } else if (!sections.isEmpty() && !line.startsWith(QLatin1Char(';')) && line.contains(QLatin1Char('='))) {
            const int equals = line.indexOf(QLatin1Char('='));
            sections.last().second.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
        }
    }
    return sections;
}
} // namespace

bool isSuspiciousTerm(const QString &term)
{
    static const QRegularExpression suspicious(
        QStringLiteral("(hack)|(cheat)|(aim)|(wallhack)|(legit)|(rage)|(chams)|(чит)"));
    return suspicious.match(term).hasMatch();
}

QString searchTermOfResultPage(const QUrl &url)
{
    static const QRegularExpression google(QStringLiteral("^(www\\.)?google(\\.[a-z]{2,3}){1,2}$"));
    static const QRegularExpression bing(QStringLiteral("^(www\\.)?bing\\.com$"));
    static const QRegularExpression yandex(QStringLiteral("^(www\\.)?(yandex(\\.[a-z]{2,3}){1,2}|ya\\.ru)$"));
    static const QRegularExpression duckDuckGo(QStringLiteral("^(www\\.|html\\.|lite\\.)?duckduckgo\\.com$"));
    static const QRegularExpression duckDuckGoPath(QStringLiteral("^/((html|lite)/?)?$"));

    if (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))
        return QString();
    const QString host = url.host().toLower();
    const QString path = url.path();
    QString key;
    if (google.match(host).hasMatch() && path == QLatin1String("/search"))
        key = QStringLiteral("q");
    else if (bing.match(host).hasMatch() && path == QLatin1String("/search"))
        key = QStringLiteral("q");
    else if (yandex.match(host).hasMatch() && path.startsWith(QLatin1String("/search")))
        key = QStringLiteral("text");
    else if (duckDuckGo.match(host).hasMatch() && duckDuckGoPath.match(path).hasMatch())
        key = QStringLiteral("q");
    else
        return QString();

    // Forms encode a space as '+'; a real plus sign arrives as %2B.
    const QUrlQuery query(url.query(QUrl::FullyEncoded));
    QString value = query.queryItemValue(key, QUrl::FullyEncoded);
    value.replace(QLatin1Char('+'), QLatin1Char(' '));
    return QUrl::fromPercentEncoding(value.toUtf8()).trimmed();
}

QStringList firefoxProfileFolders(const QString &profilesIni)
{
    const QDir base = QFileInfo(profilesIni).absoluteDir();
    QStringList folders;
    QSet<QString> seen;
    for (const auto &section : iniSections(profilesIni)) {
        if (!section.first.startsWith(QLatin1String("Profile")))
            continue;
        const QString path = QDir::fromNativeSeparators(section.second.value(QStringLiteral("Path")));
        if (path.isEmpty())
            continue;
        // Firefox writes relative entries with IsRelative=1; a relative path is taken as one either way.
        const bool relative =
            section.second.value(QStringLiteral("IsRelative")) == QLatin1String("1") || QDir::isRelativePath(path);
        const QString folder = QDir::cleanPath(relative ? base.filePath(path) : path);
        if (!seen.contains(folder)) {
            seen.insert(folder);
            folders.append(folder);
        }
    }
    return folders;
}

bool IBrowserHistoryParser::parse(QStringList &terms)
{
    QList<SearchTerm> found;
    const bool present = collect(found);
    for (const SearchTerm &term : qAsConst(found))
        terms.append(term.term);
    return present;
}

void IBrowserHistoryParser::deliver(const QList<SearchTerm> &found, QList<SearchTerm> &terms)
{
    emit elementsFound(found.size());
    terms += found;
}

bool IBrowserHistoryParser::collectChromium(const ChromiumBrowser &browser, QList<SearchTerm> &terms)
{
    // A running browser keeps its database locked; ask it to end first, without waiting.
    platform::endProgram(QString::fromLatin1(browser.image));

    const QString root = QString::fromUtf8(browser.root);
    QStringList profiles;
    if (browser.profiles) {
        profiles.append(kDefaultProfile);
        const QDir userData(QDir::cleanPath(expandPath(root, true)));
        const QStringList folders = userData.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        for (const QString &folder : folders) {
            if (folder != kDefaultProfile &&
                QFileInfo(userData.filePath(folder + QLatin1Char('/') + kHistory)).isFile())
                profiles.append(folder);
        }
    } else {
        profiles.append(QString());
    }

    const QString connection = QString::fromLatin1(browser.connection);
    const QString name = QString::fromUtf8(browser.name);
    bool present = false;
    QList<SearchTerm> found;
    for (int i = 0; i < profiles.size(); ++i) {
        const QString &profile = profiles.at(i);
        const QString folder = profile.isEmpty() ? root : root + QLatin1Char('/') + profile;
        QStringList profileTerms;
        present |= readBrowserDatabase(connection, expandPath(folder + QLatin1Char('/') + kHistory, false),
                                       readKeywordSearchTerms, profileTerms);
        const QString shownProfile = profile.isEmpty() ? QFileInfo(expandPath(root, false)).fileName() : profile;
        appendFound(profileTerms, name, shownProfile, !(i == 0 && browser.defaultUnlabelled), found);
    }
    if (present)
        deliver(found, terms);
    return present;
}

bool ChromeBrowserHistoryParser::collect(QList<SearchTerm> &terms)
{
    return collectChromium(kChrome, terms);
}

bool YandexBrowserHistoryParser::collect(QList<SearchTerm> &terms)
{
    return collectChromium(kYandex, terms);
}

bool OperaBrowserHistoryParser::collect(QList<SearchTerm> &terms)
{
    return collectChromium(kOpera, terms);
}

bool EdgeBrowserHistoryParser::collect(QList<SearchTerm> &terms)
{
    return collectChromium(kEdge, terms);
}

bool BraveBrowserHistoryParser::collect(QList<SearchTerm> &terms)
{
    return collectChromium(kBrave, terms);
}

bool VivaldiBrowserHistoryParser::collect(QList<SearchTerm> &terms)
{
    return collectChromium(kVivaldi, terms);
}

bool ChromiumBrowserHistoryParser::collect(QList<SearchTerm> &terms)
{
    return collectChromium(kChromium, terms);
}

bool OperaGxBrowserHistoryParser::collect(QList<SearchTerm> &terms)
{
    return collectChromium(kOperaGx, terms);
}

bool FirefoxBrowserHistoryParser::collect(QList<SearchTerm> &terms)
{
    platform::endProgram(QStringLiteral("firefox.exe"));

    const QString connection = QStringLiteral("firefox");
    const QString name = QStringLiteral("Firefox");
    bool present = false;
    QList<SearchTerm> found;
    const QStringList profiles =
        firefoxProfileFolders(expandPath(QStringLiteral("%appdata%/Mozilla/Firefox/profiles.ini"), false));
    for (const QString &profile : profiles) {
        const QDir folder(profile);
        QStringList profileTerms;
        present |= readBrowserDatabase(connection, folder.filePath(QStringLiteral("formhistory.sqlite")),
                                       readFirefoxSearchBar, profileTerms);
        present |= readBrowserDatabase(connection, folder.filePath(QStringLiteral("places.sqlite")),
                                       readFirefoxResultPages, profileTerms);
        appendFound(profileTerms, name, folder.dirName(), true, found);
    }
    if (present)
        deliver(found, terms);
    return present;
}
