#include "platform/LockedFile.h"

#include "platform/VolumeDevice.h"

#include <QDir>
#include <QFile>
#include <QObject>

// The toolchain's libfsntfs declares its calls over a file I/O handle only when told that the layer is
// there; it is, built into the library.
#ifndef HAVE_LIBBFIO
#define HAVE_LIBBFIO 1
#endif
#include <libbfio.h>
#include <libfsntfs.h>

#include <memory>

namespace platform {

namespace {
// The volume as libfsntfs reads it: through a file I/O handle of our own over the device, so that the
// library never parses the device's name (its path code refuses "\\.\C:") and every read is
// widened to whole sectors.
struct VolumeIo
{
    VolumeDevice *device = nullptr;
    qint64 offset = 0;
    QByteArray sectors;
};

VolumeIo *volumeIo(intptr_t *handle)
{
    return reinterpret_cast<VolumeIo *>(handle);
}

ssize_t readVolume(intptr_t *handle, uint8_t *buffer, size_t size, libbfio_error_t **)
{
    VolumeIo *io = volumeIo(handle);
    const qint64 end = io->device->size();
    qint64 wanted = std::min<qint64>(static_cast<qint64>(size), std::max<qint64>(end - io->offset, 0));
    qint64 done = 0;
    while (wanted > 0) {
        const qint64 first = (io->offset / kVolumeSector) * kVolumeSector;
        const qint64 skip = io->offset - first;
        const qint64 last = std::min(((io->offset + wanted + kVolumeSector - 1) / kVolumeSector) * kVolumeSector,
                                     std::min(end, first + (qint64(1) << 20)));
        io->sectors.resize(static_cast<int>(last - first));
        if (!io->device->readSectors(first, io->sectors.data(), last - first))
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        const qint64 piece = std::min(wanted, last - first - skip);
        memcpy(buffer + done, io->sectors.constData() + skip, static_cast<size_t>(piece));
        done += piece;
        wanted -= piece;
        io->offset += piece;
    }
    return static_cast<ssize_t>(done);
}

off64_t seekVolume(intptr_t *handle, off64_t offset, int whence, libbfio_error_t **)
{
    VolumeIo *io = volumeIo(handle);
    const qint64 base = whence == SEEK_CUR ? io->offset : whence == SEEK_END ? io->device->size() : 0;
    if (base + offset < 0)
        return -1;
    io->offset = base + offset;
    return io->offset;
}

int volumeSize(intptr_t *handle, size64_t *size, libbfio_error_t **)
{
    *size = static_cast<size64_t>(volumeIo(handle)->device->size());
    return 1;
}

int volumeNoop(intptr_t *, libbfio_error_t **)
{
    return 1;
}

int openVolumeIo(intptr_t *handle, int, libbfio_error_t **)
{
    volumeIo(handle)->offset = 0;
    return 1;
}

int freeVolumeIo(intptr_t **, libbfio_error_t **)
{
    return 1; // owned by the copy, not by the library
}
} // namespace

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
    QString deviceWhy;
    const std::unique_ptr<VolumeDevice> device = openVolumeDevice(volume, deviceWhy);
    if (!device) {
        why = QObject::tr("том %1 не открыт: %2").arg(volume, deviceWhy);
        return ReadEnd::NotOpened;
    }
    VolumeIo io{device.get(), 0, QByteArray()};
    libbfio_handle_t *handle = nullptr;
    if (libbfio_handle_initialize(&handle, reinterpret_cast<intptr_t *>(&io), freeVolumeIo, nullptr, openVolumeIo,
                                  volumeNoop, readVolume, nullptr, seekVolume, volumeNoop, volumeNoop, volumeSize, 0,
                                  nullptr) != 1)
        return fail(QObject::tr("libbfio"));
    const std::unique_ptr<libbfio_handle_t, void (*)(libbfio_handle_t *)> handleHolder(
        handle, [](libbfio_handle_t *h) { libbfio_handle_free(&h, nullptr); });
    if (libfsntfs_volume_initialize(&opened, &error) != 1)
        return fail(QObject::tr("libfsntfs"));
    const std::unique_ptr<libfsntfs_volume_t, void (*)(libfsntfs_volume_t *)> holder(
        opened, [](libfsntfs_volume_t *v) { libfsntfs_volume_free(&v, nullptr); });
    if (libfsntfs_volume_open_file_io_handle(opened, handle, LIBFSNTFS_OPEN_READ, &error) != 1)
        return fail(QObject::tr("том %1 не прочитан как NTFS").arg(volume));
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
