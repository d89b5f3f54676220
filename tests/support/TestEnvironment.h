#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <vector>

// Temporary settings of process environment variables, restored when the object goes.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

    void set(const char *name, const QString &value);
    void unset(const char *name);
    // Puts `folder` in front of PATH.
    void prependPath(const QString &folder);

private:
    struct Saved
    {
        QByteArray name;
        bool wasSet;
        QByteArray value;
    };
    void save(const char *name);
    std::vector<Saved> saved;
};

// Puts a program `name` into `folder` and `folder` in front of PATH; each call of the program appends its
// arguments as one line to `folder`/`name`.log. Returns that log's path, or an empty text on failure.
QString installRecordingProgram(ScopedEnvironment &environment, const QString &folder, const QString &name);

// Makes `path` a copy of the recording stand-in (support/Recorder.cpp) with the given settings
// ("log", "name", "behaviour"). False on failure.
bool installRecorder(const QString &path, const QMap<QString, QString> &settings);

// The recording stand-in's program, as bytes (to serve as a download).
QByteArray recorderProgram();

// Writes `content` to `path`, creating folders on the way.
bool writeFile(const QString &path, const QByteArray &content);

QByteArray readFile(const QString &path);

// The peak resident memory so far of this process (`pid` 0) or of process `pid`, in MiB; 0 where
// /proc does not say (Linux only).
double peakResidentMiB(qint64 pid = 0);

// Makes the registry hold what the registry-export text `exportText` says: on Windows the test's keys
// are written into the real registry, elsewhere `file` becomes the registry stand-in.
bool useRegistry(ScopedEnvironment &environment, const QString &file, const QByteArray &exportText);

// A registry-export text holding the game's uninstall key with InstallLocation `gameDir` and Steam's
// key with SteamPath `steamDir`, for the registry stand-in (VIGILOR_REGISTRY_FILE).
QByteArray registryWithFolders(const QString &gameDir, const QString &steamDir);
