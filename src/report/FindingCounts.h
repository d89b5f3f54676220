#pragma once

#include <QJsonArray>
#include <QString>
#include <QVector>

// What a check found, in the three counts a league reads first: violations (red findings), what
// needs attention (orange) and what could not be checked. Each count also says which part of the
// check holds how many, by the report's event type ("scan", "traces", "drivers", "account").
struct FindingCounts
{
    enum Kind { Violations, Attention, NotChecked, KindCount };

    struct Part
    {
        QString type;
        int count = 0;
    };

    int total[KindCount] = {0, 0, 0};
    QVector<Part> parts[KindCount]; // in the order the check met them

    void add(Kind kind, const QString &type, int count = 1);
};

// Counts the events of a report (the "events" array, or a slice of it). A scan's signature that could
// not be read in full counts as not checked, not as a violation: nothing was found in it.
FindingCounts countFindings(const QJsonArray &events);
