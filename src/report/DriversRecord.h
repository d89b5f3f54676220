#pragma once

#include <QJsonObject>
#include <QString>

struct DriverCheck;

// A drivers check as the report keeps it: its lines by level, and every driver row as a "driver"
// finding with its digests, signer, list entry and state.
QJsonObject driversEvent(const DriverCheck &check);

// The event as HTML, every text escaped; a summary lists only the flagged rows, at most `summaryRows`.
QString driversHtml(const QJsonObject &event, bool summary, int summaryRows);
