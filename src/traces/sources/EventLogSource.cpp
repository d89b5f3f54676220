#include "traces/sources/EventLogSource.h"

#include <algorithm>

namespace {
// How far back the logs are read: installed services for a month, trace services for a week.
constexpr int kServiceDays = 30;
constexpr int kTraceServiceDays = 7;
} // namespace

QString EventLogSource::name() const
{
    return QObject::tr("Журнал событий");
}

TraceFindings EventLogSource::collect(const TraceMachine &machine, TraceLimits &) const
{
    TraceFindings found;
    readChannel(machine, QStringLiteral("System"), {104, 7036, 7040, 7045}, found);
    readChannel(machine, QStringLiteral("Security"), {1102, 4616}, found);
    return found;
}

void EventLogSource::readChannel(const TraceMachine &machine, const QString &channel, const QVector<int> &ids,
                                 TraceFindings &found) const
{
    for (const LoggedEvent &event : found.readLogEvents(name(), channel, ids, kServiceDays, machine.now)) {
        const qint64 age = event.time.isValid() ? event.time.secsTo(machine.now) : 0;
        const QString when = event.time.isValid() ? traces::shownTime(event.time) : QObject::tr("время неизвестно");
        const QString user = event.data.value(QStringLiteral("SubjectDomainName")).isEmpty()
                                 ? event.data.value(QStringLiteral("SubjectUserName"))
                                 : event.data.value(QStringLiteral("SubjectDomainName")) + QLatin1Char('\\') +
                                       event.data.value(QStringLiteral("SubjectUserName"));
        switch (event.id) {
        case 104:
        case 1102:
            found.signs.append(QObject::tr("Журнал событий очищен: %1 (%2, %3)")
                                   .arg(event.data.value(QStringLiteral("Channel"), channel), when, user));
            break;
        case 4616:
            found.signs.append(QObject::tr("Системное время изменено: %1 → %2 (%3, %4)")
                                   .arg(event.data.value(QStringLiteral("PreviousTime")),
                                        event.data.value(QStringLiteral("NewTime")), when, user));
            break;
        case 7036: {
            // Its binary data is "<service>/<state>", 1 being stopped, whatever the system's language.
            const QStringList service = utf16FromHex(event.binary).split(QLatin1Char('/'));
            if (age <= kTraceServiceDays * 86400 && service.size() == 2 && traces::isTraceService(service.at(0)) &&
                service.at(1) == QLatin1String("1"))
                found.signs.append(QObject::tr("Служба %1 остановлена (%2)").arg(service.at(0), when));
            break;
        }
        case 7040:
            if (age <= kTraceServiceDays * 86400 && traces::isTraceService(event.data.value(QStringLiteral("param4"))))
                found.signs.append(QObject::tr("Тип запуска службы %1 изменён: %2 → %3 (%4)")
                                       .arg(event.data.value(QStringLiteral("param4")),
                                            event.data.value(QStringLiteral("param2")),
                                            event.data.value(QStringLiteral("param3")), when));
            break;
        case 7045: {
            const QString service = event.data.value(QStringLiteral("ServiceName"));
            const QString raw = event.data.value(QStringLiteral("ImagePath"));
            const QString image = serviceImageFile(raw, machine.windowsFolder);
            found.addRow(name(), image, event.time);
            if (installsDriver(event.data.value(QStringLiteral("ServiceType")), image))
                found.signs.append(QObject::tr("Установлен драйвер: %1 (%2, %3)").arg(service, raw, when));
            break;
        }
        }
    }
}
