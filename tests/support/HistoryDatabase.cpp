#include "HistoryDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

const QString kFirefoxFormHistorySchema =
    QStringLiteral("CREATE TABLE moz_formhistory (id INTEGER PRIMARY KEY, fieldname TEXT NOT NULL, value TEXT NOT "
                   "NULL, timesUsed INTEGER, firstUsed INTEGER, lastUsed INTEGER, guid TEXT)");
const QString kFirefoxPlacesSchema =
    QStringLiteral("CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, "
                   "rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, typed "
                   "INTEGER DEFAULT 0 NOT NULL, frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date INTEGER, guid "
                   "TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL, url_hash INTEGER DEFAULT 0 NOT NULL)");

QString numberedRows(int count)
{
    return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) ").arg(count);
}

bool writeDatabase(const QString &path, const QStringList &statements)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString connection = QUuid::createUuid().toString();
    bool written = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        database.setDatabaseName(path);
        if (database.open()) {
            QSqlQuery query(database);
            written = true;
            for (const QString &statement : statements)
                written = written && query.exec(statement);
            database.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return written;
}

bool writeHistoryDatabase(const QString &path, const QList<QPair<int, QVariant>> &rows)
{
    // The browser's own schema, with the visited addresses beside the terms.
    QStringList statements{
        QStringLiteral("CREATE TABLE urls (id INTEGER PRIMARY KEY AUTOINCREMENT, url LONGVARCHAR, title "
                       "LONGVARCHAR, visit_count INTEGER DEFAULT 0 NOT NULL, typed_count INTEGER DEFAULT 0 NOT NULL, "
                       "last_visit_time INTEGER NOT NULL, hidden INTEGER DEFAULT 0 NOT NULL)"),
        QStringLiteral("CREATE TABLE keyword_search_terms (keyword_id INTEGER NOT NULL, url_id INTEGER NOT NULL, "
                       "term LONGVARCHAR, normalized_term LONGVARCHAR)")};
    for (const auto &row : rows) {
        const QString term = row.second.isNull()
                                 ? QStringLiteral("NULL")
                                 : QLatin1Char('\'') +
                                       row.second.toString().replace(QLatin1Char('\''), QStringLiteral("''")) +
                                       QLatin1Char('\'');
        statements.append(QStringLiteral("INSERT INTO urls (id, url, last_visit_time) VALUES (%1, "
                                         "'https://www.google.com/search?q=%1', 0)")
                              .arg(row.first));
        statements.append(QStringLiteral("INSERT INTO keyword_search_terms VALUES (2, %1, %2, lower(%2))")
                              .arg(QString::number(row.first), term));
    }
    return writeDatabase(path, statements);
}
