#include "traces/sources/AmcacheSource.h"

#include "platform/LockedFile.h"
#include "traces/AmcacheReader.h"

#include <QTemporaryFile>

namespace {
// A gaming PC's hive is a few to some tens of MiB; one past this is planted to stall the check.
constexpr qint64 kLargestHive = qint64(256) << 20;
} // namespace

QString AmcacheSource::name() const
{
    return QStringLiteral("Amcache");
}

TraceFindings AmcacheSource::collect(const TraceMachine &machine, TraceLimits &limits) const
{
    TraceFindings found;
    const QString hive = platform::amcacheHivePath(machine.windowsFolder);
    if (hive.isEmpty())
        return found;
    const auto notRead = [&](const QString &reason) {
        found.notRead.append(QStringLiteral("%1 (%2): %3").arg(name(), hive, reason));
    };
    const QString scratch = limits.scratchFolder();
    if (scratch.isEmpty()) {
        notRead(QObject::tr("нет временной папки для копии"));
        return found;
    }
    QTemporaryFile copy(scratch + QStringLiteral("/vigilor-amcache-XXXXXX"));
    if (!copy.open()) {
        notRead(QObject::tr("нет временной папки для копии"));
        return found;
    }
    QString why;
    platform::CopyRoute route = platform::CopyRoute::FileSystem;
    const platform::ReadEnd end = platform::copyLockedFile(hive, copy, kLargestHive, why, route);
    if (end == platform::ReadEnd::NotOpened && !QFileInfo::exists(hive)) {
        // Windows 8 and later keep the hive, unless the compatibility inventory never ran (some tuning
        // tools switch it off): worth a look, no sign by itself.
        found.notices.append(QObject::tr("Amcache нет: нет файла %1").arg(hive));
        return found;
    }
    if (end != platform::ReadEnd::Whole || !copy.flush()) {
        notRead(end == platform::ReadEnd::TooLarge ? QObject::tr("больше 256 МиБ") : why);
        return found;
    }
    if (route == platform::CopyRoute::RawVolume)
        qCInfo(lcTraces).noquote() << "Amcache copied from the raw volume:" << hive;

    Amcache amcache;
    QString reason;
    QString detail;
    if (!readAmcache(copy.fileName(), amcache, reason, &detail)) {
        notRead(reason);
        if (!detail.isEmpty())
            found.addParserError(name(), hive, detail);
        return found;
    }
    for (const AmcacheEntry &entry : qAsConst(amcache.entries)) {
        TraceRow &row = found.addRow(name(), entry.path, entry.recorded);
        row.timeKind = TraceTimeKind::Recorded;
        row.sha1 = entry.sha1;
        row.recordedSize = entry.size;
        row.driver = entry.driver;
        if (entry.size >= 0)
            row.recordedFacts.append(QObject::tr("Размер по Amcache: %1 байт").arg(entry.size));
        if (entry.modified.isValid())
            row.recordedFacts.append(QObject::tr("Изменён (UTC, по Amcache): %1")
                                         .arg(entry.modified.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        if (!entry.publisher.isEmpty())
            row.recordedFacts.append(
                (entry.driver ? QObject::tr("Производитель: %1") : QObject::tr("Издатель: %1")).arg(entry.publisher));
        if (!entry.linkDate.isEmpty())
            row.recordedFacts.append(QObject::tr("Дата сборки: %1").arg(entry.linkDate));
        if (entry.driverSigned >= 0)
            row.recordedFacts.append(entry.driverSigned ? QObject::tr("Драйвер подписан")
                                                        : QObject::tr("Драйвер не подписан"));
    }
    if (amcache.cut)
        notRead(
            QObject::tr("прочитаны не все записи: больше %1, повреждённые ключи или дольше 20 с").arg(kLargestAmcache));
    if (amcache.unflushed)
        found.notices.append(
            QObject::tr("Amcache (%1): последние записи могут быть только в журналах .LOG1/.LOG2, они не прочитаны")
                .arg(hive));
    return found;
}
