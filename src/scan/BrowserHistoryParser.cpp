#include "scan/BrowserHistoryParser.h"

#include "platform/FileSystem.h"
#include "platform/Parallel.h"
#include "platform/Programs.h"
#include "rules/PathPlaceholders.h"

#include <QDeadlineTimer>
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
#include <atomic>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>

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

// What a player's database may cost: the time to read it, the rows taken, the size of a file read or
// copied, and SQLite's own memory (its sorts and temporary tables stay in it, never in %TEMP%).
constexpr int kDatabaseSeconds = 5;
constexpr int kLargestRowCount = 1000000;
constexpr qint64 kLargestDatabaseFile = qint64(1) << 30;
constexpr sqlite3_int64 kSqliteHeapLimit = sqlite3_int64(512) << 20;
constexpr int kLargestValue = 16 * 1024 * 1024;

// One read of a database: the rows and, when it stopped short, why.
struct DatabaseRead
{
    QStringList rows;
    QString failure; // empty when the database was read in full
    QDeadlineTimer deadline{kDatabaseSeconds * 1000};
    const std::atomic<bool> *stop = nullptr; // set when the scan is abandoned
};

// Reads rows of an open database into `read`; false, with read.failure set, when it stopped short.
using DatabaseReader = std::function<bool(sqlite3 *, DatabaseRead &read)>;

QString sqliteFailure(sqlite3 *database, int status, const DatabaseRead &read)
{
    if (status == SQLITE_INTERRUPT || read.deadline.hasExpired())
        return QObject::tr("не прочитана за %1 с").arg(kDatabaseSeconds);
    return QStringLiteral("SQLite: ") + QString::fromUtf8(database ? sqlite3_errmsg(database) : sqlite3_errstr(status));
}

int onProgress(void *data)
{
    const auto *read = static_cast<const DatabaseRead *>(data);
    return read->deadline.hasExpired() || (read->stop && *read->stop) ? 1 : 0;
}

// Opens the database at `uri` with the settings a hostile file calls for and reads it. Nothing is
// trusted from the file: its schema may not call functions with side effects, no extension is loaded,
// and the read is cut off at the deadline.
bool readWith(const QString &uri, int flags, const DatabaseReader &reader, DatabaseRead &read)
{
    static std::once_flag heapLimit;
    std::call_once(heapLimit, [] { sqlite3_hard_heap_limit64(kSqliteHeapLimit); });
    sqlite3 *database = nullptr;
    // Each connection lives on one thread, so SQLite's own locking of it is left out.
    int status =
        sqlite3_open_v2(uri.toUtf8().constData(), &database, flags | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr);
    if (status == SQLITE_OK) {
        sqlite3_db_config(database, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(database, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_db_config(database, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
        sqlite3_db_config(database, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
        sqlite3_db_config(database, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
        sqlite3_limit(database, SQLITE_LIMIT_LENGTH, kLargestValue);
        sqlite3_progress_handler(database, 1000, onProgress, &read);
        // A browser that still holds its lock costs a moment, not the scan.
        sqlite3_busy_timeout(database, 200);
        status = sqlite3_exec(database, "PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
    }
    const bool ok = status == SQLITE_OK && reader(database, read);
    if (status != SQLITE_OK)
        read.failure = sqliteFailure(database, status, read);
    sqlite3_close_v2(database);
    return ok;
}

// A URI for SQLite naming the file at `path`, with `query`.
QString sqliteUri(const QString &path, const QString &query)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QLatin1Char('?') + query;
}

// Copies the regular file `from` to `to`, at most kLargestDatabaseFile; false with the reason.
bool copyEvidence(const QString &from, const QString &to, QString &failure)
{
    QFile target(to);
    if (!target.open(QIODevice::WriteOnly)) {
        failure = target.errorString();
        return false;
    }
    bool written = true;
    QString reason;
    switch (platform::readRegularFile(
        from, kLargestDatabaseFile,
        [&](const char *data, qint64 size) { return written = target.write(data, size) == size; }, reason)) {
    case platform::ReadEnd::Whole:
        return true;
    case platform::ReadEnd::TooLarge:
        failure = QObject::tr("%1 больше 1 ГиБ").arg(QDir::toNativeSeparators(from));
        return false;
    case platform::ReadEnd::NotOpened:
    case platform::ReadEnd::Failed:
        break;
    }
    failure = written ? QDir::toNativeSeparators(from) + QStringLiteral(": ") + reason : target.errorString();
    return false;
}

// Reads the browser database at `path` without changing it or creating anything beside it. False
// when there is no such file; read.failure says why a database that is there was not read in full.
bool readBrowserDatabase(const QString &givenPath, const DatabaseReader &reader, DatabaseRead &read)
{
    // ".." is taken away by name, as Windows does, whether or not the folder before it exists.
    const QString path = QDir::cleanPath(givenPath);
    const QFileInfo original(path);
    if (!original.exists() && !original.isSymLink())
        return false;
    QFile probe(path);
    QString reason;
    if (!platform::openRegularFile(probe, reason)) {
        read.failure = reason;
        return true;
    }
    if (probe.size() > kLargestDatabaseFile) {
        read.failure = QObject::tr("больше 1 ГиБ");
        return true;
    }
    probe.close();

    // A database with a write-ahead log or a journal beside it is read from a private copy of them
    // all: opened in place, even read-only, SQLite would write its shared-memory index or finish the
    // journal there. A database alone is read in place as immutable, which takes no locks and writes
    // nothing, also when its header says write-ahead (a clean exit leaves no log).
    const QStringList companions{QStringLiteral("-wal"), QStringLiteral("-journal")};
    bool alone = true;
    for (const QString &suffix : companions) {
        const QFileInfo companion(path + suffix);
        alone = alone && !companion.exists() && !companion.isSymLink();
    }
    if (alone) {
        readWith(sqliteUri(path, QStringLiteral("immutable=1")), SQLITE_OPEN_READONLY, reader, read);
        return true;
    }

    // Without a temporary folder of ours, no copy: not one beside the file system's root instead.
    const QString temporary = platform::temporaryFolder();
    std::optional<QTemporaryDir> snapshot;
    if (!temporary.isEmpty())
        snapshot.emplace(temporary + QStringLiteral("/vigilor-snapshot-XXXXXX"));
    if (!snapshot || !snapshot->isValid()) {
        read.failure = QObject::tr("нет временной папки для копии");
        return true;
    }
    const QString copy = snapshot->filePath(original.fileName());
    for (const QString &suffix : QStringList{QString()} + companions) {
        const QFileInfo companion(path + suffix);
        if (!companion.exists() && !companion.isSymLink())
            continue;
        if (!copyEvidence(path + suffix, copy + suffix, read.failure))
            return true;
    }
    // The copy is ours, so it is opened for writing: SQLite may replay or roll back the journal in it.
    readWith(sqliteUri(copy, QString()), SQLITE_OPEN_READWRITE, reader, read);
    return true;
}

// Whether `name` is a real table of the database: a view or a virtual table may run any query the
// player wrote, for ever.
bool isPlainTable(sqlite3 *database, const char *name, DatabaseRead &read)
{
    sqlite3_stmt *query = nullptr;
    int status =
        sqlite3_prepare_v2(database, "select type, sql from sqlite_master where name = ?1", -1, &query, nullptr);
    bool plain = false;
    if (status == SQLITE_OK) {
        sqlite3_bind_text(query, 1, name, -1, SQLITE_STATIC);
        status = sqlite3_step(query);
        if (status == SQLITE_ROW) {
            const auto *type = reinterpret_cast<const char *>(sqlite3_column_text(query, 0));
            const QByteArray sql =
                QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(query, 1))).simplified().toUpper();
            plain = type && qstrcmp(type, "table") == 0 && !sql.startsWith("CREATE VIRTUAL");
            if (!plain)
                read.failure = QObject::tr("%1 — не таблица").arg(QLatin1String(name));
        } else if (status == SQLITE_DONE) {
            read.failure = QObject::tr("нет таблицы %1").arg(QLatin1String(name));
        }
    }
    if (status != SQLITE_ROW && status != SQLITE_DONE)
        read.failure = sqliteFailure(database, status, read);
    sqlite3_finalize(query);
    return plain;
}

// Appends the first column of every row of `statement` over the real table `table`, skipping NULLs,
// up to the row limit; false when it stopped short.
bool readColumn(sqlite3 *database, const char *table, const char *statement, DatabaseRead &read)
{
    if (!isPlainTable(database, table, read))
        return false;
    sqlite3_stmt *query = nullptr;
    int status = sqlite3_prepare_v2(database, statement, -1, &query, nullptr);
    int taken = 0;
    if (status == SQLITE_OK) {
        while ((status = sqlite3_step(query)) == SQLITE_ROW) {
            if (++taken > kLargestRowCount)
                break;
            if (sqlite3_column_type(query, 0) == SQLITE_NULL)
                continue;
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(query, 0));
            read.rows.append(QString::fromUtf8(text, sqlite3_column_bytes(query, 0)));
        }
    }
    sqlite3_finalize(query);
    if (taken > kLargestRowCount) {
        read.failure = QObject::tr("больше %1 строк").arg(kLargestRowCount);
        return false;
    }
    if (status == SQLITE_DONE)
        return true;
    read.failure = sqliteFailure(database, status, read);
    return false;
}

bool readKeywordSearchTerms(sqlite3 *database, DatabaseRead &read)
{
    return readColumn(database, "keyword_search_terms", "select term from keyword_search_terms order by url_id desc",
                      read);
}

bool readFirefoxSearchBar(sqlite3 *database, DatabaseRead &read)
{
    return readColumn(database, "moz_formhistory",
                      "select value from moz_formhistory where fieldname = 'searchbar-history' order by lastUsed desc",
                      read);
}

bool readFirefoxResultPages(sqlite3 *database, DatabaseRead &read)
{
    DatabaseRead urls;
    urls.deadline = read.deadline;
    urls.stop = read.stop;
    // Only addresses with a query that could hold the search text are looked at closely.
    const bool whole = readColumn(database, "moz_places",
                                  "select url from moz_places where url like '%q=%' or url like '%text=%' "
                                  "order by last_visit_date desc",
                                  urls);
    for (const QString &url : qAsConst(urls.rows)) {
        const QString term = searchTermOfResultPage(QUrl(url));
        if (!term.isEmpty())
            read.rows.append(term);
    }
    read.failure = urls.failure;
    return whole;
}

// Reads one source's terms into `terms` with its browser and profile; false when the database is
// not there. `failure` says why one that is there was not read in full.
bool readSource(const HistorySource &source, const QString &browser, QVector<SearchTerm> &terms, QString &failure,
                const std::atomic<bool> *stop)
{
    static const DatabaseReader readers[] = {readKeywordSearchTerms, readFirefoxSearchBar, readFirefoxResultPages};
    DatabaseRead read;
    read.stop = stop;
    if (!readBrowserDatabase(source.path, readers[source.kind], read))
        return false;
    failure = read.failure;
    const QStringList &rows = read.rows;
    // Copies of this thread's own: every term shares them, and a count shared with another thread's
    // terms would bounce between the cores at each one.
    const QString ownBrowser(browser.constData(), browser.size());
    const QString ownProfile(source.profile.constData(), source.profile.size());
    terms.reserve(rows.size());
    for (const QString &row : rows)
        terms.append(SearchTerm{row, ownBrowser, ownProfile, source.sourceShown});
    return true;
}

// The key/value pairs of each section of an INI text, sections in the file's order.
QList<QPair<QString, QHash<QString, QString>>> iniSections(const QString &path)
{
    QList<QPair<QString, QHash<QString, QString>>> sections;
    QFile file(path);
    QString ignored;
    if (!platform::openRegularFile(file, ignored))
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

bool IBrowserHistoryParser::collect(QVector<SearchTerm> &terms, QVector<UnreadHistory> *unread)
{
    return collectBrowserTerms({this}, terms, unread).first();
}

QVector<bool> collectBrowserTerms(const QList<IBrowserHistoryParser *> &parsers, QVector<SearchTerm> &terms,
                                  QVector<UnreadHistory> *unread, const std::atomic<bool> *stop)
{
    struct Read
    {
        IBrowserHistoryParser *parser;
        QString browser;
        HistorySource source;
        QVector<SearchTerm> terms;
        bool present = false;
        QString failure;
    };
    QVector<Read> reads;
    for (IBrowserHistoryParser *parser : parsers) {
        const QString browser = parser->browserName();
        for (const HistorySource &source : parser->sources())
            reads.append({parser, browser, source, {}, false, {}});
    }
    // Each database is a file of its own with a connection of its own: they are read side by side,
    // the largest files first so that the cores finish together.
    QVector<QPair<qint64, int>> order;
    for (int i = 0; i < reads.size(); ++i)
        order.append({-QFileInfo(reads.at(i).source.path).size(), i});
    std::sort(order.begin(), order.end());
    runOnAllCores(order.size(), [&](int n) {
        Read &read = reads[order.at(n).second];
        if (!stop || !*stop)
            read.present = readSource(read.source, read.browser, read.terms, read.failure, stop);
    });
    if (unread) {
        for (const Read &read : qAsConst(reads)) {
            if (!read.failure.isEmpty())
                unread->append({QDir::toNativeSeparators(QDir::cleanPath(read.source.path)), read.failure});
        }
    }

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
