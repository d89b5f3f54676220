#include "platform/FileSystem.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {
// A folder that only this user can reach: a real folder (not a link), owned by the user, mode 0700.
bool isPrivateFolder(const QByteArray &path)
{
    struct stat status = {};
    return lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & 0777) == 0700;
}
} // namespace

// $TMPDIR when set, as the user chose. Without it, not the shared /tmp itself, where another user
// could plant the files the program writes and then runs: a folder of this user's own inside it.
QString temporaryFolder()
{
    const QByteArray chosen = qgetenv("TMPDIR");
    if (!chosen.isEmpty())
        return QDir::cleanPath(QFile::decodeName(chosen));

    const QByteArray own = "/tmp/vigilor-" + QByteArray::number(static_cast<qulonglong>(geteuid()));
    if ((mkdir(own.constData(), 0700) == 0 || errno == EEXIST) && isPrivateFolder(own))
        return QFile::decodeName(own);
    // The name is taken by someone else: a fresh folder with a name nobody can foresee.
    QByteArray fresh = "/tmp/vigilor-XXXXXX";
    if (mkdtemp(fresh.data()) == nullptr)
        return QString();
    return QFile::decodeName(fresh);
}

FolderAccess folderAccess(const QString &path)
{
    const QFileInfo folder(path);
    if (!folder.isDir())
        return FolderAccess::Missing;
    return access(QFile::encodeName(path).constData(), R_OK | X_OK) == 0 ? FolderAccess::Readable
                                                                         : FolderAccess::Denied;
}

bool openRegularFile(QFile &file, QString &error)
{
    // Non-blocking, so that opening a FIFO returns at once; the mode is checked on what was opened,
    // not on the name, which the player could swap in between.
    const int descriptor =
        ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat status = {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        error = QStringLiteral("not a regular file");
        return false;
    }
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        error = file.errorString();
        return false;
    }
    return true;
}

QString fileIdentity(const QString &path)
{
    struct stat status = {};
    if (stat(QFile::encodeName(path).constData(), &status) != 0)
        return QString();
    return QStringLiteral("%1:%2")
        .arg(static_cast<qulonglong>(status.st_dev))
        .arg(static_cast<qulonglong>(status.st_ino));
}

QDateTime lastWritten(const QString &path)
{
    return QFileInfo(path).lastModified().toUTC();
}

QString fileOwner(const QString &path)
{
    struct stat status = {};
    if (stat(QFile::encodeName(path).constData(), &status) != 0)
        return QString();
    // The user database may be a directory server: each owner is asked for once.
    static std::mutex mutex;
    static QHash<uid_t, QString> names;
    std::lock_guard<std::mutex> lock(mutex);
    const auto known = names.constFind(status.st_uid);
    if (known != names.cend())
        return *known;
    passwd entry = {};
    passwd *found = nullptr;
    char buffer[4096];
    const QString name = getpwuid_r(status.st_uid, &entry, buffer, sizeof buffer, &found) == 0 && found
                             ? QString::fromLocal8Bit(found->pw_name)
                             : QString();
    names.insert(status.st_uid, name);
    return name;
}

} // namespace platform
