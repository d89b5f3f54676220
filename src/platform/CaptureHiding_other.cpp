#include "platform/CaptureHiding.h"

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QObject>

// Away from Windows no window hides from capture; a test or the demo may name some in the text file
// VIGILOR_HIDDEN_WINDOWS names, one window a line: PID, image and title, separated by tabs.
namespace platform {

HiddenWindows windowsHiddenFromCapture()
{
    HiddenWindows hidden;
    const QString path = qEnvironmentVariable("VIGILOR_HIDDEN_WINDOWS");
    if (path.isEmpty()) {
        hidden.why = QObject::tr("в этой системе окна не скрываются от записи экрана");
        return hidden;
    }
    QByteArray content;
    if (readWholeFile(path, 1024 * 1024, content, hidden.why) != ReadEnd::Whole) {
        if (hidden.why.isEmpty())
            hidden.why = QObject::tr("больше 1 МиБ");
        return hidden;
    }
    hidden.asked = true;
    for (const QByteArray &line : content.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        if (fields.size() < 3)
            continue;
        if (hidden.windows.size() == kLargestWindowListing) {
            hidden.why = QObject::tr("первые %1 окон").arg(kLargestWindowListing);
            break;
        }
        hidden.windows.append({QString::fromUtf8(fields.mid(2).join('\t')), QString::fromUtf8(fields[1]),
                               fields[0].toLongLong(), kExcludeFromCapture});
    }
    return hidden;
}

} // namespace platform
