#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>
#include <QVector>

#include <string>

// The forensic parsers open files by name only. What they read is first read here, bounded, from
// the player's file, then handed to them as a private copy in a folder of ours: they never open the
// player's file (which could be swapped for a pipe or a device between a check and their open) and
// nothing is written beside it.
class ParserCopy
{
public:
    ParserCopy(const QByteArray &data, const QString &folder);

    bool isValid() const { return valid; }
    // For the parsers' open: the local 8-bit name elsewhere, the wide name on Windows.
    QByteArray localName() const;
    std::wstring wideName() const;

private:
    QTemporaryFile file;
    bool valid = false;
};

// The first cause in a libyal error's backtrace (the innermost one comes first); the error is freed.
template <typename Error, typename Sprint, typename Free> QString parserError(Error *&error, Sprint sprint, Free free)
{
    if (!error)
        return QStringLiteral("?");
    char text[2048] = {};
    sprint(error, text, sizeof text);
    free(&error);
    const QString whole = QString::fromUtf8(text).simplified();
    const int end = whole.indexOf(QLatin1String(". "));
    return end >= 0 ? whole.left(end) : whole;
}

// A UTF-16 text that a libyal call pair gives (its size with the terminating zero, then the text);
// empty when there is none or it is longer than Windows' longest path.
template <typename SizeOf, typename TextOf> QString parserText(SizeOf sizeOf, TextOf textOf)
{
    size_t size = 0;
    if (sizeOf(&size) != 1 || size == 0 || size > 32768)
        return QString();
    QVector<uint16_t> text(static_cast<int>(size));
    if (textOf(text.data(), size) != 1)
        return QString();
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text.constData()), static_cast<int>(size - 1));
}
