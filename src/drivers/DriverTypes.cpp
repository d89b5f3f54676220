#include "drivers/DriverTypes.h"

#include <QObject>

#include <algorithm>

int DriverCheck::count(DriverLineLevel level) const
{
    return int(
        std::count_if(lines.begin(), lines.end(), [level](const DriverLine &line) { return line.level == level; }));
}

QString driverStateText(DriverRow::State state)
{
    switch (state) {
    case DriverRow::State::Loaded:
        return QObject::tr("загружен");
    case DriverRow::State::Service:
        return QObject::tr("служба");
    case DriverRow::State::Deleted:
        return QObject::tr("удалён");
    }
    return QString();
}

QString driverStateName(DriverRow::State state)
{
    switch (state) {
    case DriverRow::State::Loaded:
        return QStringLiteral("loaded");
    case DriverRow::State::Service:
        return QStringLiteral("service");
    case DriverRow::State::Deleted:
        return QStringLiteral("deleted");
    }
    return QString();
}

QString signatureText(const DriverRow &row)
{
    switch (row.signature) {
    case SignatureVerdict::Trusted:
    case SignatureVerdict::Embedded:
        return row.signer.isEmpty() ? QObject::tr("подписан") : row.signer;
    case SignatureVerdict::Unsigned:
        return QObject::tr("не подписан");
    case SignatureVerdict::Broken:
        return QObject::tr("подпись нарушена");
    case SignatureVerdict::Untrusted:
        return QObject::tr("недоверенная подпись");
    case SignatureVerdict::NotChecked:
        break;
    }
    return row.state == DriverRow::State::Deleted ? QString() : QObject::tr("подпись не проверена");
}

QString signatureName(SignatureVerdict verdict)
{
    static const char *const kNames[] = {"trusted", "unsigned", "broken", "untrusted", "embedded", "not_checked"};
    return QLatin1String(kNames[int(verdict)]);
}

QString lineLevelName(DriverLineLevel level)
{
    static const char *const kNames[] = {"red", "orange", "plain", "not_read"};
    return QLatin1String(kNames[int(level)]);
}
