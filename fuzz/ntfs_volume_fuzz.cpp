// libFuzzer target for the raw NTFS route a locked hive is copied by: libfsntfs's reading of a volume's
// boot sector, MFT and directory indexes, and our bounded copy of one file out of it.

#include "platform/LockedFile.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir scratch;
    const QString volume = scratch.filePath(QStringLiteral("volume.img"));
    {
        QFile file(volume);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    QBuffer copy;
    copy.open(QIODevice::WriteOnly);
    QString why;
    const platform::ReadEnd end = platform::copyFromNtfsVolume(volume, QStringLiteral("\\$UpCase"), copy, 1 << 20, why);
    if (copy.size() > (1 << 20) || (end == platform::ReadEnd::NotOpened && why.isEmpty()))
        std::abort();
    return 0;
}
