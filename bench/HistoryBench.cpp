// The browser search-history check over 7 browsers with 3 profiles of 10,000 terms each, and Opera
// and Opera GX, which keep one profile, with one each; beside the `sqlite3` shell reading the same
// files with the same queries in a shell loop in the same run; and the peak memory of the process.
// Run: ./history-bench

#include "HistoryDatabase.h"
#include "TestEnvironment.h"
#include "scan/BrowserHistoryParser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <memory>

namespace {
constexpr int kTerms = 10000;

// A History file of kTerms terms, one in a hundred suspicious.
QString chromiumHistory(const QString &path)
{
    writeHistoryDatabase(path, {});
    writeDatabase(path,
                  {numberedRows(kTerms) + QStringLiteral("INSERT INTO keyword_search_terms SELECT 2, i, 'term ' || i "
                                                         "|| CASE WHEN i % 100 = 0 THEN ' cheat' ELSE '' END, '' "
                                                         "FROM n")});
    return QStringLiteral("sqlite3 \"%1\" 'select term from keyword_search_terms order by url_id desc'").arg(path);
}

// A Firefox profile: half the terms in the search bar's history, half as result pages.
QString firefoxProfile(const QString &folder)
{
    const QString form = folder + QStringLiteral("/formhistory.sqlite");
    const QString places = folder + QStringLiteral("/places.sqlite");
    writeDatabase(form,
                  {kFirefoxFormHistorySchema,
                   numberedRows(kTerms / 2) + QStringLiteral("INSERT INTO moz_formhistory SELECT i, "
                                                             "'searchbar-history', 'term ' || i, 1, i, i, '' FROM n")});
    writeDatabase(places,
                  {kFirefoxPlacesSchema,
                   numberedRows(kTerms / 2) + QStringLiteral("INSERT INTO moz_places (url, last_visit_date) SELECT "
                                                             "'https://www.google.com/search?q=term+' || i, i "
                                                             "FROM n")});
    return QStringLiteral("sqlite3 \"%1\" \"select value from moz_formhistory where fieldname = 'searchbar-history' "
                          "order by lastUsed desc\"; sqlite3 \"%2\" \"select url from moz_places where url like "
                          "'%q=%' or url like '%text=%' order by last_visit_date desc\"")
        .arg(form, places);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir temp;
    ScopedEnvironment environment;
    const QString roaming = temp.filePath(QStringLiteral("AppData/Roaming"));
    environment.set("APPDATA", roaming);
    environment.set("TMPDIR", temp.path());

    QStringList shell;
    const QStringList userData{"../Local/Google/Chrome/User Data",  "../Local/Yandex/YandexBrowser/User Data",
                               "../Local/Microsoft/Edge/User Data", "../Local/BraveSoftware/Brave-Browser/User Data",
                               "../Local/Vivaldi/User Data",        "../Local/Chromium/User Data"};
    for (const QString &root : userData) {
        for (const char *profile : {"Default", "Profile 1", "Profile 2"})
            shell.append(
                chromiumHistory(QDir::cleanPath(roaming + '/' + root + '/' + QLatin1String(profile) + "/History")));
    }
    for (const char *root : {"Opera Software/Opera Stable", "Opera Software/Opera GX Stable"})
        shell.append(chromiumHistory(roaming + '/' + QLatin1String(root) + "/History"));
    const QString firefox = roaming + QStringLiteral("/Mozilla/Firefox");
    QByteArray ini;
    for (int i = 0; i < 3; ++i) {
        const QString name = QStringLiteral("Profiles/p%1.default").arg(i);
        ini += QStringLiteral("[Profile%1]\nIsRelative=1\nPath=%2\n").arg(i).arg(name).toUtf8();
        shell.append(firefoxProfile(firefox + '/' + name));
    }
    writeFile(firefox + QStringLiteral("/profiles.ini"), ini);

    const QList<IBrowserHistoryParser *> parsers = makeBrowserHistoryParsers();

    // Best of nine runs each, alternating, so that neither side has the warmer cache.
    const double memoryBefore = peakResidentMiB();
    double readMs = 1e9;
    double checkMs = 1e9;
    double shellMs = 1e9;
    QVector<SearchTerm> terms;
    int suspicious = 0;
    for (int run = 0; run < 9; ++run) {
        // The last run's terms are let go before the clock starts: freeing them is no part of a check.
        terms = QVector<SearchTerm>();
        QElapsedTimer clock;
        clock.start();
        collectBrowserTerms(parsers, terms);
        const double read = clock.nsecsElapsed() / 1e6;
        suspicious = 0;
        for (const SearchTerm &term : qAsConst(terms))
            suspicious += isSuspiciousTerm(term.term) ? 1 : 0;
        const double check = clock.nsecsElapsed() / 1e6;
        if (check < checkMs) {
            checkMs = check;
            readMs = read;
        }

        clock.restart();
        QProcess loop;
        loop.setStandardOutputFile(QProcess::nullDevice());
        loop.start(QStringLiteral("sh"), {QStringLiteral("-c"), shell.join(QStringLiteral("\n"))});
        loop.waitForFinished(-1);
        shellMs = std::min(shellMs, clock.nsecsElapsed() / 1e6);
        if (loop.exitCode() != 0)
            out << "the sqlite3 loop failed; is sqlite3 installed?\n";
    }
    const double memoryAfter = peakResidentMiB();

    out << "cores: " << QThread::idealThreadCount() << "\n"
        << QStringLiteral("%1 databases, %2 terms read, %3 suspicious\n")
               .arg(shell.size() + 3)
               .arg(terms.size())
               .arg(suspicious)
        << QStringLiteral("history check:        %1 ms (reading %2 ms)\n")
               .arg(checkMs, 0, 'f', 0)
               .arg(readMs, 0, 'f', 0)
        << QStringLiteral("sqlite3 shell loop:   %1 ms\n").arg(shellMs, 0, 'f', 0)
        << QStringLiteral("ratio check/shell:    %1\n").arg(checkMs / shellMs, 0, 'f', 2)
        << QStringLiteral("peak memory:          %1 MiB (%2 MiB before the check)\n")
               .arg(memoryAfter, 0, 'f', 1)
               .arg(memoryBefore, 0, 'f', 1);
    qDeleteAll(parsers);
    return 0;
}
