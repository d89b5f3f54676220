#include "traces/sources/PcaSource.h"

#include "platform/System.h"
#include "traces/TraceDecoders.h"

#include <QFile>
#include <QFileInfo>

namespace {
// A launch list is kilobytes; one past this is made, not grown.
constexpr qint64 kLargestTraceFile = 64 * 1024 * 1024;
} // namespace

QString PcaSource::name() const
{
    return QStringLiteral("PCA");
}

TraceFindings PcaSource::collect(const TraceMachine &machine, TraceLimits &) const
{
    TraceFindings found;
    if (machine.windowsFolder.isEmpty())
        return found;
    const QString path =
        QDir::cleanPath(QDir::fromNativeSeparators(machine.windowsFolder) + "/appcompat/pca/PcaAppLaunchDic.txt");
    const QFileInfo entry(path);
    if (!entry.exists() && !entry.isSymLink())
        return found;
    const QString shown = QStringLiteral("PCA (%1)").arg(QDir::toNativeSeparators(path));
    QFile file(path);
    QString reason;
    if (!platform::openRegularFile(file, reason)) {
        if (entry.isFile() && !entry.isReadable())
            found.unreadable.append(shown);
        else
            found.notRead.append(shown + QStringLiteral(": ") + reason);
        return found;
    }
    QByteArray content = file.read(kLargestTraceFile);
    if (file.size() > kLargestTraceFile || !file.atEnd()) {
        // A record this large is made, not grown: the lines read are kept, the last cut one is not.
        found.signs.append(QObject::tr("Файл следов больше 64 МиБ, прочитано начало: %1").arg(shown));
        content.truncate(content.lastIndexOf('\n') + 1);
    }
    const auto launches = traces::pcaLaunches(content, platform::ansiCodec());
    for (const auto &launch : launches)
        found.addRow(name(), launch.first, launch.second);
    return found;
}
