#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
        if (it->wasSet)
            qputenv(it->name.constData(), it->value);
        else
            qunsetenv(it->name.constData());
    }
}

void ScopedEnvironment::save(const char *name)
{
    saved.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
}

void ScopedEnvironment::set(const char *name, const QString &value)
{
    save(name);
    qputenv(name, value.toLocal8Bit());
}

void ScopedEnvironment::unset(const char *name)
{
    save(name);
    qunsetenv(name);
}

void ScopedEnvironment::prependPath(const QString &folder)
{
    const QByteArray path = qgetenv("PATH");
    save("PATH");
    qputenv("PATH", QDir::toNativeSeparators(folder).toLocal8Bit() + QDir::listSeparator().toLatin1() + path);
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool installRecorder(const QString &path, const QMap<QString, QString> &settings)
{
    QByteArray record;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        record += it.key().toUtf8() + '=' + it.value().toUtf8() + '\n';
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return QFile::copy(QStringLiteral(VIGILOR_TEST_RECORDER), path) &&
           QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner) &&
           writeFile(path + QStringLiteral(".record"), record);
}

QByteArray recorderProgram()
{
    return readFile(QStringLiteral(VIGILOR_TEST_RECORDER));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray registryWithFolders(const QString &gameDir, const QString &steamDir)
{
    return "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 730]\r\n"
           "\"InstallLocation\"=\"" +
           gameDir.toUtf8() +
           "\"\r\n\r\n"
           "[HKEY_CURRENT_USER\\SOFTWARE\\Valve\\Steam]\r\n"
           "\"SteamPath\"=\"" +
           steamDir.toUtf8() + "\"\r\n";
}

QString installRecordingProgram(ScopedEnvironment &environment, const QString &folder, const QString &name)
{
    const QString log = folder + QLatin1Char('/') + name + QStringLiteral(".log");
    if (!installRecorder(folder + QLatin1Char('/') + name, {{QStringLiteral("log"), log}}))
        return {};
    environment.prependPath(folder);
    return log;
}

double peakResidentMiB(qint64 pid)
{
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status") : QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}
