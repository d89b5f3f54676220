#include "platform/VolumeDevice.h"

#include <QFile>
#include <QObject>

namespace platform {

namespace {
// An image of a volume; the stand-in's device.
class ImageDevice : public VolumeDevice
{
public:
    explicit ImageDevice(const QString &path) : file(path) {}
    bool open(QString &why)
    {
        if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return true;
        why = file.errorString();
        return false;
    }
    qint64 size() const override { return file.size(); }
    bool readSectors(qint64 offset, char *data, qint64 size) override
    {
        return file.seek(offset) && file.read(data, size) == size;
    }

private:
    QFile file;
};
} // namespace

std::unique_ptr<VolumeDevice> openVolumeDevice(const QString &volume, QString &why)
{
    auto device = std::make_unique<ImageDevice>(volume);
    if (!device->open(why))
        return nullptr;
    return device;
}

} // namespace platform
