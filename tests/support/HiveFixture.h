#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

// Registry hive files ("regf") written from the published layout, for the tests, the benchmarks and
// the demo machine: one bin, allocated cells, "li" sub-key lists, names in ASCII.

struct HiveValue
{
    QString name;
    quint32 type = 1; // REG_SZ
    QByteArray data;

    static HiveValue text(const QString &name, const QString &text); // REG_SZ, zero-terminated UTF-16
    static HiveValue number(const QString &name, quint32 number);    // REG_DWORD
    static HiveValue quad(const QString &name, quint64 number);      // REG_QWORD
};

struct HiveKey
{
    QString name;
    QDateTime written;
    QVector<HiveValue> values;
    QVector<HiveKey> keys;
};

// The hive file whose root key is `root`.
QByteArray registryHive(const HiveKey &root);

// `hive` as Windows leaves it between a write to its logs and their flush: the primary sequence number
// one past the secondary.
QByteArray unflushedHive(const QByteArray &hive);

// One program file or driver as Amcache keeps it.
struct AmcacheFixtureFile
{
    QString path;
    QString sha1; // 40 hex digits
    QDateTime recorded;
    quint64 size = 0;
    QString publisher;
    bool driver = false;
};

// An Amcache hive naming `files`: in the layout of Windows 10 1709 and later (`inventory`: the
// InventoryApplicationFile and InventoryDriverBinary keys) or the older Root\File one (drivers are
// left out there, as Windows kept none).
QByteArray amcacheHive(const QVector<AmcacheFixtureFile> &files, bool inventory = true);
