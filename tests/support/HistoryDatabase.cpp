#include "HistoryDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

bool writeHistoryDatabase(const QString &path, const QList<QPair<int, QVariant>> &rows)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString connection = QUuid::createUuid().toString();
    bool written = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        database.setDatabaseName(path);
        if (database.open()) {
            QSqlQuery query(database);
            written = query.exec(QStringLiteral("CREATE TABLE keyword_search_terms (keyword_id INTEGER NOT NULL, "
                                                "url_id INTEGER NOT NULL, term LONGVARCHAR, normalized_term "
                                                "LONGVARCHAR)"));
            for (const auto &row : rows) {
                query.prepare(QStringLiteral("INSERT INTO keyword_search_terms (keyword_id, url_id, term) "
                                             "VALUES (2, ?, ?)"));
                query.addBindValue(row.first);
                query.addBindValue(row.second.isNull() ? QVariant(QVariant::String) : row.second);
                written = written && query.exec();
            }
            database.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return written;
}
