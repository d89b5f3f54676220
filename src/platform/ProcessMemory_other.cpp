#include "platform/ProcessMemory.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

// Linux: the regions and their resident sizes from /proc/PID/smaps, the bytes from /proc/PID/mem.
namespace platform {
namespace {
// A process's map is small; a bigger one is cut here rather than read without end.
constexpr qint64 kLargestMap = 64 * 1024 * 1024;

int descriptorOf(void *handle)
{
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)) - 1;
}
} // namespace

ProcessMemory::ProcessMemory(qint64 pid) : pid(pid)
{
    const QByteArray path = "/proc/" + QByteArray::number(pid) + "/mem";
    const int descriptor = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    handle = reinterpret_cast<void *>(static_cast<std::intptr_t>(descriptor) + 1);
    open = true;
}

ProcessMemory::~ProcessMemory()
{
    if (open)
        ::close(descriptorOf(handle));
}

QVector<MemoryRegion> ProcessMemory::regions() const
{
    QVector<MemoryRegion> regions;
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!open || !smaps.open(QIODevice::ReadOnly))
        return regions;
    const QByteArray text = smaps.read(kLargestMap);
    bool readable = false;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields.at(0).contains('-') && fields.at(1).size() == 4) {
            // "start-end perms offset device inode [path]"
            const QList<QByteArray> range = fields.at(0).split('-');
            MemoryRegion region;
            region.base = range.value(0).toULongLong(nullptr, 16);
            region.size = range.value(1).toULongLong(nullptr, 16) - region.base;
            region.executable = fields.at(1).at(2) == 'x';
            region.image = fields.at(4) != "0";
            readable = fields.at(1).at(0) == 'r' && !line.endsWith("[vvar]") && !line.endsWith("[vsyscall]");
            if (readable)
                regions.append(region);
        } else if (readable && fields.size() >= 2 && fields.at(0) == "Rss:" && !regions.isEmpty()) {
            regions.last().resident = fields.at(1).toULongLong() * 1024;
        }
    }
    QVector<MemoryRegion> held;
    for (const MemoryRegion &region : qAsConst(regions)) {
        if (region.resident > 0)
            held.append(region);
    }
    return held;
}

bool ProcessMemory::read(quint64 base, char *buffer, quint64 size) const
{
    quint64 done = 0;
    while (open && done < size) {
        const ssize_t got = pread(descriptorOf(handle), buffer + done, size - done, static_cast<off_t>(base + done));
        if (got <= 0)
            return false;
        done += static_cast<quint64>(got);
    }
    return open;
}

} // namespace platform
