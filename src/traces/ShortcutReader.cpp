#include "traces/ShortcutReader.h"

#include "traces/ParserCopy.h"

#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <initializer_list>

#include <liblnk.h>

namespace {
// Whether the shortcut's location information is within itself, as its published layout has it: the
// library allocates what its offsets and sizes claim before it checks them against the file, so a
// few crafted bytes would cost gigabytes.
bool linkInfoFits(const QByteArray &data)
{
    const auto number = [&data](qint64 at, int bytes) -> qint64 {
        if (at < 0 || at + bytes > data.size())
            return -1;
        return bytes == 2 ? qFromLittleEndian<quint16>(data.constData() + at)
                          : qFromLittleEndian<quint32>(data.constData() + at);
    };
    const qint64 flags = number(20, 4);
    if (flags < 0)
        return false;
    qint64 at = 76;
    if (flags & 0x1) { // HasLinkTargetIDList
        const qint64 idList = number(at, 2);
        if (idList < 0)
            return false;
        at += 2 + idList;
    }
    if (!(flags & 0x2)) // HasLinkInfo
        return true;
    const qint64 size = number(at, 4);
    const qint64 headerSize = number(at + 4, 4);
    if (size < 28 || headerSize < 28 || headerSize > size || at + size > data.size())
        return false;
    // VolumeIDOffset, LocalBasePathOffset, CommonNetworkRelativeLinkOffset, CommonPathSuffixOffset,
    // and the Unicode ones of a longer header: each within the block.
    for (int field = 12; field < std::min<qint64>(headerSize, 36); field += 4) {
        if (number(at + field, 4) >= size)
            return false;
    }
    // The volume's block (its label's offset at 12) and the share's (its name's at 8, its device's at
    // 12): their sizes and offsets within the block too.
    const struct
    {
        int field;
        std::initializer_list<int> offsets;
    } blocks[] = {{12, {12}}, {20, {8, 12}}};
    for (const auto &block : blocks) {
        const qint64 offset = number(at + block.field, 4);
        if (offset <= 0)
            continue;
        const qint64 blockSize = number(at + offset, 4);
        if (blockSize < 16 || offset + blockSize > size)
            return false;
        for (const int inner : block.offsets) {
            if (number(at + offset + inner, 4) >= blockSize)
                return false;
        }
    }
    // Every string ends within its block: the library looks for a string's end without a bound, past
    // the block it copied.
    const auto endsWithin = [&data](qint64 blockStart, qint64 blockEnd, qint64 offset, int width) {
        if (offset <= 0)
            return true;
        for (qint64 i = blockStart + offset; i + width <= std::min<qint64>(blockEnd, data.size()); i += width) {
            if (data.at(int(i)) == 0 && (width == 1 || data.at(int(i) + 1) == 0))
                return true;
        }
        return false;
    };
    const qint64 end = at + size;
    if (!endsWithin(at, end, number(at + 16, 4), 1) || !endsWithin(at, end, number(at + 24, 4), 1) ||
        (headerSize >= 36 &&
         (!endsWithin(at, end, number(at + 28, 4), 2) || !endsWithin(at, end, number(at + 32, 4), 2))))
        return false;
    const qint64 volume = number(at + 12, 4);
    if (volume > 0) {
        const qint64 volumeEnd = at + volume + number(at + volume, 4);
        const qint64 label = number(at + volume + 12, 4);
        if (label == 0x14 ? !endsWithin(at + volume, volumeEnd, number(at + volume + 16, 4), 2)
                          : !endsWithin(at + volume, volumeEnd, label, 1))
            return false;
    }
    // The share's block: its name follows its header (20 bytes, or 28 with the Unicode offsets, which
    // a name placed further says are there), and a device name only when its flag says so.
    const qint64 share = number(at + 20, 4);
    if (share > 0) {
        const qint64 shareSize = number(at + share, 4);
        const qint64 shareFlags = number(at + share + 4, 4);
        const qint64 netName = number(at + share + 8, 4);
        const qint64 deviceName = number(at + share + 12, 4);
        if (netName < 20 || (deviceName != 0 && (!(shareFlags & 0x1) || deviceName < 20)))
            return false;
        if (netName > 20 &&
            (shareSize < 28 || number(at + share + 20, 4) >= shareSize || number(at + share + 24, 4) >= shareSize))
            return false;
        const qint64 shareEnd = at + share + shareSize;
        if (!endsWithin(at + share, shareEnd, netName, 1) || !endsWithin(at + share, shareEnd, deviceName, 1) ||
            (netName > 20 && (!endsWithin(at + share, shareEnd, number(at + share + 20, 4), 2) ||
                              !endsWithin(at + share, shareEnd, number(at + share + 24, 4), 2))))
            return false;
    }
    return true;
}

struct LnkFile
{
    liblnk_file_t *file = nullptr;
    ~LnkFile()
    {
        if (file) {
            liblnk_file_close(file, nullptr);
            liblnk_file_free(&file, nullptr);
        }
    }
};

} // namespace

std::optional<ShortcutTarget> readShortcut(const QByteArray &data, const QString &scratchFolder, QString &error,
                                           QString *detail)
{
    const ParserCopy copy(data, scratchFolder);
    if (!copy.isValid()) {
        error = QObject::tr("нет временной папки для копии");
        return std::nullopt;
    }
    if (!linkInfoFits(data)) {
        error = QObject::tr("не ярлык или повреждён");
        if (detail)
            *detail = QStringLiteral("the location information does not fit in the shortcut");
        return std::nullopt;
    }
    LnkFile lnk;
    liblnk_error_t *lnkError = nullptr;
    const auto fail = [&]() -> std::optional<ShortcutTarget> {
        error = QObject::tr("не ярлык или повреждён");
        const QString cause = parserError(lnkError, liblnk_error_backtrace_sprint, liblnk_error_free);
        if (detail)
            *detail = cause;
        return std::nullopt;
    };
    if (liblnk_file_initialize(&lnk.file, &lnkError) != 1)
        return fail();
#ifdef Q_OS_WIN
    if (liblnk_file_open_wide(lnk.file, copy.wideName().c_str(), LIBLNK_OPEN_READ, &lnkError) != 1)
        return fail();
#else
    if (liblnk_file_open(lnk.file, copy.localName().constData(), LIBLNK_OPEN_READ, &lnkError) != 1)
        return fail();
#endif
    liblnk_file_t *file = lnk.file;
    ShortcutTarget target;
    target.path = parserText(
        [file](size_t *size) { return liblnk_file_get_utf16_local_path_size(file, size, nullptr); },
        [file](uint16_t *text, size_t size) { return liblnk_file_get_utf16_local_path(file, text, size, nullptr); });
    if (target.path.isEmpty()) {
        target.path =
            parserText([file](size_t *size) { return liblnk_file_get_utf16_network_path_size(file, size, nullptr); },
                       [file](uint16_t *text, size_t size) {
                           return liblnk_file_get_utf16_network_path(file, text, size, nullptr);
                       });
        if (!target.path.isEmpty())
            target.medium = TraceMedium::Network;
        return target;
    }
    uint32_t driveType = LIBLNK_DRIVE_TYPE_FIXED;
    if (liblnk_file_get_drive_type(file, &driveType, nullptr) == 1) {
        if (driveType == LIBLNK_DRIVE_TYPE_REMOVABLE)
            target.medium = TraceMedium::Removable;
        else if (driveType == LIBLNK_DRIVE_TYPE_REMOTE)
            target.medium = TraceMedium::Network;
        else if (driveType == LIBLNK_DRIVE_TYPE_CDROM)
            target.medium = TraceMedium::Disc;
    }
    return target;
}
