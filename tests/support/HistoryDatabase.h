#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

// Writes a browser History database at `path` (folders made on the way) whose table
// keyword_search_terms holds the (url_id, term) rows; a null QVariant term is stored as NULL.
bool writeHistoryDatabase(const QString &path, const QList<QPair<int, QVariant>> &rows);

// A WITH clause naming the numbers 1 to `count` n(i), to fill a table with "INSERT … SELECT … FROM n".
QString numberedRows(int count);

// Runs `statements` on the SQLite database at `path` (folders and file made on the way).
bool writeDatabase(const QString &path, const QStringList &statements);

// The schema of Firefox's search bar history (formhistory.sqlite) and visited pages (places.sqlite).
extern const QString kFirefoxFormHistorySchema;
extern const QString kFirefoxPlacesSchema;
