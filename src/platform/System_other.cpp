#include "platform/System.h"

#include <QFile>
#include <QTextCodec>

// Away from Windows the system's folders are the environment's Windows names (so that a test or the
// demo points them at a machine of its own), its start time is Linux's, and it has no services or
// device names to ask.
namespace platform {

QString knownFolderPath(const QString &guid)
{
    static const struct
    {
        const char *guid;
        const char *variable;
        const char *below;
    } kFolders[] = {
        {knownFolder::kWindows, "SystemRoot", ""},
        {knownFolder::kSystem, "SystemRoot", "System32"},
        {knownFolder::kSystemX86, "SystemRoot", "SysWOW64"},
        {knownFolder::kProgramFiles, "ProgramFiles", ""},
        {knownFolder::kProgramFilesX86, "ProgramFiles(x86)", ""},
        {knownFolder::kRoamingAppData, "APPDATA", ""},
        {knownFolder::kLocalAppData, "LOCALAPPDATA", ""},
        // One user's machine: its profile stands for the users' folder.
        {knownFolder::kUserProfiles, "USERPROFILE", ""},
    };
    for (const auto &folder : kFolders) {
        if (guid.compare(QLatin1String(folder.guid), Qt::CaseInsensitive) != 0)
            continue;
        const QString base = qEnvironmentVariable(folder.variable);
        if (base.isEmpty() || !*folder.below)
            return base;
        // A Windows path ("C:\Windows") keeps its own separators.
        const QChar separator = base.contains(QLatin1Char('\\')) ? QLatin1Char('\\') : QLatin1Char('/');
        return base + separator + QLatin1String(folder.below);
    }
    return QString();
}

QDateTime bootTime()
{
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!uptime.open(QIODevice::ReadOnly))
        return QDateTime();
    bool ok = false;
    const double seconds = QString::fromLatin1(uptime.readLine()).section(QLatin1Char(' '), 0, 0).toDouble(&ok);
    if (!ok)
        return QDateTime();
    return QDateTime::currentDateTimeUtc().addMSecs(-static_cast<qint64>(seconds * 1000));
}

ServiceState serviceState(const QString &)
{
    return ServiceState::Unknown;
}

bool isRemovableDrive(const QString &)
{
    return false;
}

QVector<QPair<QString, QString>> driveDevices()
{
    return {};
}

QStringList fixedDrives()
{
    const QString drive = qEnvironmentVariable("SYSTEMDRIVE");
    return drive.isEmpty() ? QStringList() : QStringList{drive};
}

QHash<quint32, QString> volumeDrives()
{
    return {};
}

// Western Windows' code page, the most common one.
QTextCodec *ansiCodec()
{
    return QTextCodec::codecForName("windows-1252");
}

} // namespace platform
