#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

// Writes a browser History database at `path` (folders made on the way) whose table
// keyword_search_terms holds the (url_id, term) rows; a null QVariant term is stored as NULL.
bool writeHistoryDatabase(const QString &path, const QList<QPair<int, QVariant>> &rows);
