#include "platform/LockedFile.h"

#include <QDir>
#include <QFile>
#include <QObject>

#include <libfsntfs.h>

#include <memory>

namespace platform {

ReadEnd copyRegularFile(const QString &path, QIODevice &destination, qint64 limit, QString &why)
{
    bool written = true;
    const ReadEnd end = readRegularFile(
        path, limit, [&](const char *data, qint64 size) { return written = destination.write(data, size) == size; },
        why);
    if (!written)
        why = QObject::tr("копия не записана: %1").arg(destination.errorString());
    return end;
}

ReadEnd copyFromNtfsVolume(const QString &volume, const QString &pathInVolume, QIODevice &destination, qint64 limit,
                           QString &why)
{
    libfsntfs_volume_t *opened = nullptr;
    libfsntfs_error_t *error = nullptr;
    const auto fail = [&](const QString &what) {
        char text[1024] = {};
        if (error) {
            libfsntfs_error_sprint(error, text, sizeof text);
            libfsntfs_error_free(&error);
        }
        why = QString::fromUtf8(text).simplified();
        why = why.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, why.left(300));
        return ReadEnd::NotOpened;
    };
    if (libfsntfs_volume_initialize(&opened, &error) != 1)
        return fail(QObject::tr("libfsntfs"));
    const std::unique_ptr<libfsntfs_volume_t, void (*)(libfsntfs_volume_t *)> holder(
        opened, [](libfsntfs_volume_t *v) { libfsntfs_volume_free(&v, nullptr); });
    // The narrow open on Windows too: a device name ("\\.\C:") is plain ASCII, and the toolchain's
    // libbfio cannot take a wide name.
    const int result =
        libfsntfs_volume_open(opened, QFile::encodeName(volume).constData(), LIBFSNTFS_OPEN_READ, &error);
    if (result != 1)
        return fail(QObject::tr("том %1 не открыт").arg(volume));
    const std::unique_ptr<libfsntfs_volume_t, void (*)(libfsntfs_volume_t *)> open(
        opened, [](libfsntfs_volume_t *v) { libfsntfs_volume_close(v, nullptr); });
    const QByteArray inVolume =
        QDir::toNativeSeparators(pathInVolume).replace(QLatin1Char('/'), QLatin1Char('\\')).toUtf8();
    libfsntfs_file_entry_t *found = nullptr;
    if (libfsntfs_volume_get_file_entry_by_utf8_path(opened, reinterpret_cast<const uint8_t *>(inVolume.constData()),
                                                     static_cast<size_t>(inVolume.size()), &found, &error) != 1)
        return fail(QObject::tr("нет файла %1 на томе").arg(pathInVolume));
    const std::unique_ptr<libfsntfs_file_entry_t, void (*)(libfsntfs_file_entry_t *)> entry(
        found, [](libfsntfs_file_entry_t *e) { libfsntfs_file_entry_free(&e, nullptr); });
    size64_t size = 0;
    if (libfsntfs_file_entry_get_size(found, &size, &error) != 1)
        return fail(QObject::tr("размер файла не прочитан"));
    if (size > static_cast<size64_t>(limit))
        return ReadEnd::TooLarge;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (size64_t left = size; left > 0;) {
        const size_t piece = static_cast<size_t>(std::min<size64_t>(left, static_cast<size64_t>(buffer.size())));
        const ssize_t read = libfsntfs_file_entry_read_buffer(found, buffer.data(), piece, &error);
        if (read <= 0) {
            fail(QObject::tr("чтение с тома прервано"));
            return ReadEnd::Failed;
        }
        if (destination.write(buffer.constData(), read) != read) {
            why = QObject::tr("копия не записана: %1").arg(destination.errorString());
            return ReadEnd::Failed;
        }
        left -= static_cast<size64_t>(read);
    }
    return ReadEnd::Whole;
}

} // namespace platform
