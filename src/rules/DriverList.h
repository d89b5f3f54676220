#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// One driver of the league's list of vulnerable and malicious drivers.
struct ListedDriver
{
    QString name;                           // the driver's file name, "RTCore64.sys"
    QStringList names;                      // every file name it is known by, the first being `name`
    QString category;                       // "vulnerable" or "malicious"
    QStringList sha256, sha1, authenticode; // lower-case hex; the Authenticode digest is SHA-256

    bool malicious() const { return category == QLatin1String("malicious"); }
};

// The list, indexed for matching a driver file by any of its digests or a driver by its file name.
class DriverList
{
public:
    // Reads the document's "drivers" array ({"name", "names", "category", "sha256", "sha1",
    // "authenticode_sha256"}); entries without a name or any digest are left out.
    static DriverList fromJson(const QJsonObject &data);

    // The entry listing any of the digests (lower-case hex; empty ones are not looked up), or null.
    const ListedDriver *byDigest(const QString &sha256, const QString &sha1, const QString &authenticode) const;
    // The entry naming the file `fileName` (any letter case), or null.
    const ListedDriver *byName(const QString &fileName) const;
    int size() const { return entries.size(); }

private:
    const ListedDriver *find(const QHash<QString, int> &index, const QString &key) const;

    QVector<ListedDriver> entries;
    QHash<QString, int> bySha256, bySha1, byAuthenticode, byFileName;
};
