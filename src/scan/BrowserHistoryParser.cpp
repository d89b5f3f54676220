#include "scan/BrowserHistoryParser.h"

#include "platform/FileSystem.h"
#include "platform/Parallel.h"
#include "scan/GuardedSqlite.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <atomic>

namespace {
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
    QStringList &rows = read.rows;
    // Copies of this thread's own: every term shares them, and a count shared with another thread's
    // terms would bounce between the cores at each one.
    const QString ownBrowser(browser.constData(), browser.size());
    const QString ownProfile(source.profile.constData(), source.profile.size());
    terms.reserve(rows.size());
    // Each term's text is moved, not shared: a count per term costs as much as the read itself.
    for (QString &row : rows)
        terms.append(SearchTerm{std::move(row), ownBrowser, ownProfile, source.sourceShown});
    return true;
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
    QVector<UnreadHistory> crowded;
    QSet<QString> databases; // the identities of the files taken
    for (IBrowserHistoryParser *parser : parsers) {
        const QString browser = parser->browserName();
        QSet<QString> profiles;
        for (const HistorySource &source : parser->sources()) {
            if (!profiles.contains(source.profile) && profiles.size() == kLargestBrowserProfiles) {
                const QString profileFolder = QFileInfo(QDir::cleanPath(source.path)).absolutePath();
                crowded.append({QDir::toNativeSeparators(QFileInfo(profileFolder).absolutePath()),
                                QObject::tr("больше %1 профилей, прочитаны первые").arg(kLargestBrowserProfiles)});
                break;
            }
            profiles.insert(source.profile);
            // A profile that is a link to another one's folder holds that one's database: read once.
            const QString identity = platform::fileIdentity(QDir::cleanPath(source.path));
            if (!identity.isEmpty() && databases.contains(identity))
                continue;
            databases.insert(identity);
            reads.append({parser, browser, source, {}, false, {}});
        }
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
        *unread += crowded;
        for (const Read &read : qAsConst(reads)) {
            if (!read.failure.isEmpty())
                unread->append({QDir::toNativeSeparators(QDir::cleanPath(read.source.path)), read.failure});
        }
    }

    // Room for every term at once: growing by each browser would copy the terms before it again.
    int total = terms.size();
    for (const Read &read : qAsConst(reads))
        total += read.terms.size();
    terms.reserve(total);
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
        for (Read &read : reads) {
            if (read.parser == parser) {
                for (SearchTerm &term : read.terms)
                    terms.append(std::move(term));
            }
        }
    }
    return found;
}
