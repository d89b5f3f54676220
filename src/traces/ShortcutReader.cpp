#include "traces/ShortcutReader.h"

#include "traces/ParserCopy.h"

#include <QVector>

#include <liblnk.h>

namespace {
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
