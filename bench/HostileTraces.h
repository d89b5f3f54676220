#pragma once

#include <QString>
#include <QTextStream>

// The trace collection over crafted Prefetch files, beside its limits of time and memory.
void craftedTraces(QTextStream &out, const QString &root);
// The browser step over one large History that 31 profiles lead to.
void linkedProfiles(QTextStream &out, const QString &root);
