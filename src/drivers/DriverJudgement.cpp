#include "drivers/DriverJudgement.h"

#include <QObject>

namespace {
using Kind = DriverEvidence::Kind;

bool listed(const DriverEvidence &e)
{
    return !e.category.isEmpty();
}
bool vulnerable(const DriverEvidence &e)
{
    return listed(e) && e.category != QLatin1String("malicious");
}
// Where a legitimate tool puts a listed driver: a system folder, and a signature that holds.
bool likeATool(const DriverEvidence &e)
{
    return !e.gone && e.inSystemFolders && e.signatureAccepted;
}

const struct Rule
{
    Kind kind;
    DriverLineLevel level;
    bool (*applies)(const DriverEvidence &);
    const char *text; // {path} {name} {entry} {reason} {when} {service}
} kRules[] = {
    {Kind::Driver, DriverLineLevel::Red,
     [](const DriverEvidence &e) { return e.category == QLatin1String("malicious"); },
     "Драйвер из списка вредоносных: {entry} ({path})"},
    {Kind::Driver, DriverLineLevel::Red, [](const DriverEvidence &e) { return e.inUserFolder; },
     "Драйвер из пользовательской папки: {path}"},
    {Kind::Driver, DriverLineLevel::Red,
     [](const DriverEvidence &e) { return e.loaded && !e.gone && e.trustAsked && !e.signatureAccepted; },
     "Загружен драйвер без доверенной подписи: {path} ({reason})"},
    {Kind::Driver, DriverLineLevel::Orange, [](const DriverEvidence &e) { return e.loaded && vulnerable(e); },
     "Загружен драйвер из списка уязвимых: {entry} ({path})"},
    {Kind::Driver, DriverLineLevel::Orange, [](const DriverEvidence &e) { return !e.loaded && vulnerable(e); },
     "Служба драйвера из списка уязвимых: {entry} ({path})"},
    // A mapper loads, then deletes; an updated driver keeps its name.
    {Kind::Driver, DriverLineLevel::Orange, [](const DriverEvidence &e) { return e.loaded && e.gone; },
     "Загружен драйвер, файла которого нет: {path}"},
    {Kind::Installed, DriverLineLevel::Red, [](const DriverEvidence &e) { return e.gone; },
     "Драйвер установлен и удалён: {service} ({path}, {when})"},
    {Kind::Installed, DriverLineLevel::Red, [](const DriverEvidence &e) { return listed(e) && !likeATool(e); },
     "Установлен драйвер из списка уязвимых: {entry} ({path}, {when})"},
    {Kind::Installed, DriverLineLevel::Orange, [](const DriverEvidence &e) { return listed(e) && likeATool(e); },
     "Установлен драйвер из списка уязвимых: {entry} ({path}, {when})"},
    {Kind::Journal, DriverLineLevel::Red, [](const DriverEvidence &e) { return listed(e); },
     "Драйвер из списка уязвимых создан и удалён: {entry} ({path}, {when})"},
};

QString filledIn(const char *text, const DriverEvidence &e)
{
    QString line = QObject::tr(text);
    const std::pair<const char *, const QString *> fields[] = {{"{path}", &e.path},   {"{name}", &e.name},
                                                               {"{entry}", &e.entry}, {"{reason}", &e.reason},
                                                               {"{when}", &e.when},   {"{service}", &e.service}};
    // One pass per field over the template only: a value holding "{path}" stays as it is.
    QString out;
    for (int at = 0; at < line.size();) {
        bool replaced = false;
        for (const auto &[name, value] : fields) {
            const QLatin1String key(name);
            if (line.midRef(at).startsWith(key)) {
                out += *value;
                at += key.size();
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += line.at(at++);
    }
    return out;
}
} // namespace

QVector<DriverLine> judgeDriver(const DriverEvidence &evidence)
{
    QVector<DriverLine> lines;
    for (const Rule &rule : kRules) {
        if (rule.kind == evidence.kind && rule.applies(evidence))
            lines.append({rule.level, filledIn(rule.text, evidence)});
    }
    return lines;
}
