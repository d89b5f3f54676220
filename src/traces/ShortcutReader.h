#pragma once

#include "traces/TraceTypes.h"

#include <QByteArray>
#include <QString>

#include <optional>

struct ShortcutTarget
{
    QString path; // empty when the shortcut keeps none (no LinkInfo)
    TraceMedium medium = TraceMedium::Fixed;
};

// Reads the shortcut (.lnk) whose whole content is `data` through a private copy in `scratchFolder`.
// Empty, with `error` set in the examiner's words and `detail` (when given) in the parsing library's,
// when it is no shortcut that can be read.
std::optional<ShortcutTarget> readShortcut(const QByteArray &data, const QString &scratchFolder, QString &error,
                                           QString *detail = nullptr);
