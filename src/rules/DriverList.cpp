#include "rules/DriverList.h"

#include <QJsonArray>

namespace {
QStringList digests(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &digest : value.toArray()) {
        const QString text = digest.toString().trimmed().toLower();
        if (!text.isEmpty())
            list.append(text);
    }
    return list;
}
} // namespace

DriverList DriverList::fromJson(const QJsonObject &data)
{
    DriverList list;
    for (const QJsonValue &value : data.value(QStringLiteral("drivers")).toArray()) {
        const QJsonObject object = value.toObject();
        ListedDriver driver{object.value(QStringLiteral("name")).toString().trimmed(),
                            {},
                            object.value(QStringLiteral("category")).toString(),
                            digests(object.value(QStringLiteral("sha256"))),
                            digests(object.value(QStringLiteral("sha1"))),
                            digests(object.value(QStringLiteral("authenticode_sha256")))};
        for (const QJsonValue &name : object.value(QStringLiteral("names")).toArray()) {
            if (!name.toString().trimmed().isEmpty())
                driver.names.append(name.toString().trimmed());
        }
        if (driver.name.isEmpty() && !driver.names.isEmpty())
            driver.name = driver.names.first();
        if (!driver.name.isEmpty() && !driver.names.contains(driver.name, Qt::CaseInsensitive))
            driver.names.prepend(driver.name);
        if (driver.name.isEmpty() && driver.sha256.isEmpty() && driver.sha1.isEmpty() && driver.authenticode.isEmpty())
            continue;
        const int index = list.entries.size();
        // The first entry for a digest or a name stands: the list names it once.
        const auto keep = [index](QHash<QString, int> &byKey, const QStringList &keys) {
            for (const QString &key : keys) {
                if (!key.isEmpty() && !byKey.contains(key))
                    byKey.insert(key, index);
            }
        };
        keep(list.bySha256, driver.sha256);
        keep(list.bySha1, driver.sha1);
        keep(list.byAuthenticode, driver.authenticode);
        QStringList lowerNames;
        for (const QString &name : qAsConst(driver.names))
            lowerNames.append(name.toLower());
        keep(list.byFileName, lowerNames);
        list.entries.append(driver);
    }
    return list;
}

const ListedDriver *DriverList::find(const QHash<QString, int> &index, const QString &key) const
{
    if (key.isEmpty())
        return nullptr;
    const auto found = index.constFind(key);
    return found == index.constEnd() ? nullptr : &entries.at(found.value());
}

const ListedDriver *DriverList::byDigest(const QString &sha256, const QString &sha1, const QString &authenticode) const
{
    if (const ListedDriver *driver = find(bySha256, sha256))
        return driver;
    if (const ListedDriver *driver = find(bySha1, sha1))
        return driver;
    return find(byAuthenticode, authenticode);
}

const ListedDriver *DriverList::byName(const QString &fileName) const
{
    return find(byFileName, fileName.toLower());
}
