#pragma once

#include <QString>

#include <memory>

// A volume opened for reading in whole sectors, as raw devices demand: the NTFS reader of a locked
// file reads through it. On Windows a device ("\\.\C:"); elsewhere an image file.
namespace platform {

// Every read starts and ends on this boundary (or at the volume's end): a multiple of the 512- and
// 4,096-byte sectors disks have.
constexpr qint64 kVolumeSector = 4096;

class VolumeDevice
{
public:
    virtual ~VolumeDevice() = default;
    virtual qint64 size() const = 0;
    // Reads `size` bytes at `offset` (a multiple of kVolumeSector; `size` one too, or up to the end).
    virtual bool readSectors(qint64 offset, char *data, qint64 size) = 0;
};

// Null with the reason in `why` when the volume cannot be opened for reading.
std::unique_ptr<VolumeDevice> openVolumeDevice(const QString &volume, QString &why);

} // namespace platform
