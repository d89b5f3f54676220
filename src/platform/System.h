#pragma once

#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

class QTextCodec;

// What the system says of itself, for reading the traces it keeps: its folders, when it started,
// its services, its device names and its code page. Always asked of the system, never of the
// environment the examined player controls.
namespace platform {

// Known folders by their identifiers, as the shell names them.
namespace knownFolder {
constexpr const char *kWindows = "{F38BF404-1D43-42F2-9305-67DE0B28FC23}";
constexpr const char *kSystem = "{1AC14E77-02E7-4E5D-B744-2EB1AE5198B7}";
constexpr const char *kSystemX86 = "{D65231B0-B2F1-4857-A4CE-A8E7C6EA7D27}";
constexpr const char *kProgramFiles = "{905E63B6-C1BF-494E-B29C-65B732D3D21A}";
constexpr const char *kProgramFilesX86 = "{7C5A40EF-A0FB-4BFC-874A-C0F2E0B9FA8E}";
constexpr const char *kRoamingAppData = "{3EB685DB-65F9-4CF6-A03A-E3EF65729F3D}";
constexpr const char *kLocalAppData = "{F1B32785-6FBA-4FCF-9D55-7B8E7F157091}";
constexpr const char *kUserProfiles = "{0762D272-C50A-4BB0-A382-697DCD729B80}";
} // namespace knownFolder

// The folder of the known-folder identifier `guid` ("{…}", any letter case), with native separators;
// empty when the system does not know it.
QString knownFolderPath(const QString &guid);

// When the system last started (UTC); invalid when unknown.
QDateTime bootTime();

enum class ServiceState { Unknown, Running, NotRunning };
// Whether the service (or driver) `name` runs now, as the service manager says.
ServiceState serviceState(const QString &name);

// The system's NT device names of its drives: ("\Device\HarddiskVolume3", "C:") and so on.
QVector<QPair<QString, QString>> driveDevices();

// The roots of the fixed drives ("C:\\" …). The stand-in elsewhere: the folder SYSTEMDRIVE names.
QStringList fixedDrives();

// Whether `path` lies on a removable drive (a USB stick, a card). The stand-in elsewhere has none.
bool isRemovableDrive(const QString &path);

// The serial number of each drive's volume and the drive ("C:"), as Prefetch files name volumes.
QHash<quint32, QString> volumeDrives();

// The code page of the system's non-Unicode programs.
QTextCodec *ansiCodec();

} // namespace platform
