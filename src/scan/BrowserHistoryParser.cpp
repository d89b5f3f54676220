#include "scan/BrowserHistoryParser.h"

#include "app/Parallel.h"
#include "platform/FileSystem.h"
#include "platform/Programs.h"
#include "scan/PathPlaceholders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <iterator>

const ChromiumBrowser kChromiumBrowsers[8] = {
    {"chrome.exe", "Google Chrome", "%appdata%/../Local/Google/Chrome/User Data", true, true},
    {"browser.exe", "Yandex Browser", "%appdata%/../Local/Yandex/YandexBrowser/User Data", true, true},
    {"opera.exe", "Opera", "%appdata%/Opera Software/Opera Stable", false, true},
    {"msedge.exe", "Microsoft Edge", "%appdata%/../Local/Microsoft/Edge/User Data", true, false},
    {"brave.exe", "Brave", "%appdata%/../Local/BraveSoftware/Brave-Browser/User Data", true, false},
    {"vivaldi.exe", "Vivaldi", "%appdata%/../Local/Vivaldi/User Data", true, false},
    {"chrome.exe", "Chromium", "%appdata%/../Local/Chromium/User Data", true, false},
    {"opera.exe", "Opera GX", "%appdata%/Opera Software/Opera GX Stable", false, false},
};

namespace {
const QString kDefaultProfile = QStringLiteral("Default");
const QString kHistory = QStringLiteral("History");

// Reads rows of an open database into `found`; false, with nothing appended, when a query failed.
using DatabaseReader = std::function<bool(sqlite3 *, QStringList &found)>;

// Opens `path` with SQLite's `flags` and reads it; false when it could not be read. SQLite is called
// directly: a history holds tens of thousands of rows, and each costs little this way.
bool readWith(const QString &path, int flags, const DatabaseReader &reader, QStringList &found)
{
    sqlite3 *database = nullptr;
    // Each connection lives on one thread, so SQLite's own locking of it is left out.
    const bool opened =
        sqlite3_open_v2(path.toUtf8().constData(), &database, flags | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK;
    // A browser that still holds its lock costs a moment, not the scan.
    const bool read = opened && sqlite3_busy_timeout(database, 200) == SQLITE_OK && reader(database, found);
    sqlite3_close_v2(database);
    return read;
}

// Reads the browser database at `path` without changing it or creating anything beside it. False
// when there is no such file.
bool readBrowserDatabase(const QString &givenPath, const DatabaseReader &reader, QStringList &found)
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
    if (!QFileInfo::exists(wal) && readWith(path, SQLITE_OPEN_READONLY, reader, found))
        return true;

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
    readWith(copy, SQLITE_OPEN_READWRITE, reader, found);
    return true;
}

// Appends the first column of every row of `statement`, skipping NULLs; false when it failed.
bool readColumn(sqlite3 *database, const char *statement, QStringList &found)
{
    sqlite3_stmt *query = nullptr;
    if (sqlite3_prepare_v2(database, statement, -1, &query, nullptr) != SQLITE_OK)
        return false;
    const int before = found.size();
    int status;
    while ((status = sqlite3_step(query)) == SQLITE_ROW) {
        if (sqlite3_column_type(query, 0) == SQLITE_NULL)
            continue;
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(query, 0));
        found.append(QString::fromUtf8(text, sqlite3_column_bytes(query, 0)));
    }
    sqlite3_finalize(query);
    if (status == SQLITE_DONE)
        return true;
    found.erase(found.begin() + before, found.end()); // nothing of a read that failed half-way
    return false;
}

bool readKeywordSearchTerms(sqlite3 *database, QStringList &found)
{
    return readColumn(database, "select term from keyword_search_terms order by url_id desc", found);
}

bool readFirefoxSearchBar(sqlite3 *database, QStringList &found)
{
    return readColumn(database,
                      "select value from moz_formhistory where fieldname = 'searchbar-history' order by lastUsed desc",
                      found);
}

bool readFirefoxResultPages(sqlite3 *database, QStringList &found)
{
    QStringList urls;
    // Only addresses with a query that could hold the search text are looked at closely.
    if (!readColumn(database,
                    "select url from moz_places where url like '%q=%' or url like '%text=%' "
                    "order by last_visit_date desc",
                    urls))
        return false;
    for (const QString &url : qAsConst(urls)) {
        const QString term = searchTermOfResultPage(QUrl(url));
        if (!term.isEmpty())
            found.append(term);
    }
    return true;
}

// Reads one source's terms into `terms` with its browser and profile; false when the database is
// not there.
bool readSource(const HistorySource &source, const QString &browser, QVector<SearchTerm> &terms)
{
    static const DatabaseReader readers[] = {readKeywordSearchTerms, readFirefoxSearchBar, readFirefoxResultPages};
    QStringList rows;
    if (!readBrowserDatabase(source.path, readers[source.kind], rows))
        return false;
    // Copies of this thread's own: every term shares them, and a count shared with another thread's
    // terms would bounce between the cores at each one.
    const QString ownBrowser(browser.constData(), browser.size());
    const QString ownProfile(source.profile.constData(), source.profile.size());
    terms.reserve(rows.size());
    for (const QString &row : qAsConst(rows))
        terms.append(SearchTerm{row, ownBrowser, ownProfile, source.sourceShown});
    return true;
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
    // The words of old ("wallhack" is found as "hack"), case-sensitive, anywhere in the term. A
    // history holds hundreds of thousands of terms: each character is looked at once, and only a
    // word's first letter leads to a comparison.
    static const QString words[] = {QStringLiteral("hack"),  QStringLiteral("cheat"), QStringLiteral("aim"),
                                    QStringLiteral("legit"), QStringLiteral("rage"),  QStringLiteral("chams"),
                                    QStringLiteral("чит")};
    const QChar *text = term.constData();
    const int size = term.size();
    for (int i = 0; i < size; ++i) {
        const ushort c = text[i].unicode();
        if (c != 'h' && c != 'c' && c != 'a' && c != 'l' && c != 'r' && c != 0x0447)
            continue;
        for (const QString &word : words) {
            if (word.at(0).unicode() == c && i + word.size() <= size &&
                QStringView(text + i, word.size()) == QStringView(word))
                return true;
        }
    }
    return false;
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
    QVector<SearchTerm> found;
    const bool present = collect(found);
    for (const SearchTerm &term : qAsConst(found))
        terms.append(term.term);
    return present;
}

bool IBrowserHistoryParser::collect(QVector<SearchTerm> &terms)
{
    return collectBrowserTerms({this}, terms).first();
}

QVector<bool> collectBrowserTerms(const QList<IBrowserHistoryParser *> &parsers, QVector<SearchTerm> &terms)
{
    struct Read
    {
        IBrowserHistoryParser *parser;
        QString browser;
        HistorySource source;
        QVector<SearchTerm> terms;
        bool present = false;
    };
    QVector<Read> reads;
    for (IBrowserHistoryParser *parser : parsers) {
        const QString browser = parser->browserName();
        for (const HistorySource &source : parser->sources())
            reads.append({parser, browser, source, {}, false});
    }
    // Each database is a file of its own with a connection of its own: they are read side by side,
    // the largest files first so that the cores finish together.
    QVector<QPair<qint64, int>> order;
    for (int i = 0; i < reads.size(); ++i)
        order.append({-QFileInfo(reads.at(i).source.path).size(), i});
    std::sort(order.begin(), order.end());
    runOnAllCores(order.size(), [&](int n) {
        Read &read = reads[order.at(n).second];
        read.present = readSource(read.source, read.browser, read.terms);
    });

    QVector<bool> found(parsers.size(), false);
    for (int p = 0; p < parsers.size(); ++p) {
        IBrowserHistoryParser *parser = parsers.at(p);
        bool present = false;
        int count = 0;
        for (const Read &read : qAsConst(reads)) {
            if (read.parser == parser) {
                present |= read.present;
                count += read.terms.size();
            }
        }
        found[p] = present;
        if (!present)
            continue;
        emit parser->elementsFound(count);
        terms.reserve(terms.size() + count);
        for (Read &read : reads) {
            if (read.parser == parser) {
                for (SearchTerm &term : read.terms)
                    terms.append(std::move(term));
            }
        }
    }
    return found;
}

ChromiumHistoryParser::ChromiumHistoryParser(const ChromiumBrowser &browser, QObject *parent)
    : IBrowserHistoryParser(parent), browser(browser)
{
}

QString ChromiumHistoryParser::browserName() const
{
    return QString::fromUtf8(browser.name);
}

QVector<HistorySource> ChromiumHistoryParser::sources()
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
    QVector<HistorySource> sources;
    for (int i = 0; i < profiles.size(); ++i) {
        const QString &profile = profiles.at(i);
        const QString folder = profile.isEmpty() ? root : root + QLatin1Char('/') + profile;
        const QString shownProfile = profile.isEmpty() ? QFileInfo(expandPath(root, false)).fileName() : profile;
        sources.append({expandPath(folder + QLatin1Char('/') + kHistory, false), HistorySource::ChromiumSearchTerms,
                        shownProfile, !(i == 0 && browser.defaultUnlabelled)});
    }
    return sources;
}

ChromeBrowserHistoryParser::ChromeBrowserHistoryParser(QObject *parent)
    : ChromiumHistoryParser(kChromiumBrowsers[0], parent)
{
}

YandexBrowserHistoryParser::YandexBrowserHistoryParser(QObject *parent)
    : ChromiumHistoryParser(kChromiumBrowsers[1], parent)
{
}

OperaBrowserHistoryParser::OperaBrowserHistoryParser(QObject *parent)
    : ChromiumHistoryParser(kChromiumBrowsers[2], parent)
{
}

QList<IBrowserHistoryParser *> makeBrowserHistoryParsers()
{
    QList<IBrowserHistoryParser *> parsers = {new ChromeBrowserHistoryParser, new YandexBrowserHistoryParser,
                                              new OperaBrowserHistoryParser};
    for (std::size_t i = 3; i < std::size(kChromiumBrowsers); ++i)
        parsers.append(new ChromiumHistoryParser(kChromiumBrowsers[i]));
    parsers.append(new FirefoxBrowserHistoryParser);
    return parsers;
}

QString FirefoxBrowserHistoryParser::browserName() const
{
    return QStringLiteral("Firefox");
}

QVector<HistorySource> FirefoxBrowserHistoryParser::sources()
{
    platform::endProgram(QStringLiteral("firefox.exe"));

    QVector<HistorySource> sources;
    const QStringList profiles =
        firefoxProfileFolders(expandPath(QStringLiteral("%appdata%/Mozilla/Firefox/profiles.ini"), false));
    for (const QString &profile : profiles) {
        const QDir folder(profile);
        sources.append({folder.filePath(QStringLiteral("formhistory.sqlite")), HistorySource::FirefoxSearchBar,
                        folder.dirName(), true});
        sources.append({folder.filePath(QStringLiteral("places.sqlite")), HistorySource::FirefoxResultPages,
                        folder.dirName(), true});
    }
    return sources;
}
