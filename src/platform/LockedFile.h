#pragma once

#include "platform/FileSystem.h"

#include <QIODevice>
#include <QString>

// Files Windows keeps open without sharing (registry hives), copied the way forensic collectors do.
namespace platform {

// Where Windows keeps Amcache's hive: <windowsFolder>\AppCompat\Programs\Amcache.hve. The stand-in:
// the file VIGILOR_AMCACHE names, or none (empty).
QString amcacheHivePath(const QString &windowsFolder);

// How a copy was made.
enum class CopyRoute { FileSystem, RawVolume };

// Copies the file at `path` into `destination`, at most `limit` bytes: through the file system where
// the file may be read; else, on Windows, from its NTFS volume opened raw (administrator rights).
// `why` names what failed, both routes' reasons when both did.
ReadEnd copyLockedFile(const QString &path, QIODevice &destination, qint64 limit, QString &why, CopyRoute &route);

// Copies the file at `pathInVolume` ("\Windows\…") of the NTFS volume `volume` (a device such as
// "\\.\C:", or an image file) into `destination`, at most `limit` bytes, with libfsntfs.
ReadEnd copyFromNtfsVolume(const QString &volume, const QString &pathInVolume, QIODevice &destination, qint64 limit,
                           QString &why);

// The same through the file system, as readRegularFile reads.
ReadEnd copyRegularFile(const QString &path, QIODevice &destination, qint64 limit, QString &why);

} // namespace platform
