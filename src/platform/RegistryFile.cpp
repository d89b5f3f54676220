#include "platform/RegistryFile.h"

#include "platform/FileSystem.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QTextStream>
#include <QtEndian>

using platform::RegistryValue;

namespace {
// An export of a whole hive is some hundred megabytes; past this, the rest is not read.
constexpr qint64 kLargestRegistryFile = 256 * 1024 * 1024;

// Reads a quoted text starting at `from` (the opening quote); `end` gets the position after the
// closing quote. False when no closing quote follows.
bool readQuoted(const QString &line, int from, QString &text, int &end)
{
    text.clear();
    for (int i = from + 1; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            text.append(line.at(++i));
        } else if (c == QLatin1Char('"')) {
            end = i + 1;
            return true;
        } else {
            text.append(c);
        }
    }
    return false;
}

QByteArray utf16Data(const QString &text)
{
    QByteArray data(text.size() * 2 + 2, '\0');
    for (int i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), data.data() + 2 * i);
    return data;
}

// The data after the '=' of a value line: "text", dword:XXXXXXXX or hex(N):xx,xx,... False for
// anything else (such as the deletion mark -).
bool readData(const QString &data, RegistryValue &value)
{
    if (data.startsWith(QLatin1Char('"'))) {
        QString text;
        int end = 0;
        if (!readQuoted(data, 0, text, end))
            return false;
        value.type = platform::RegString;
        value.data = utf16Data(text);
        return true;
    }
    if (data.startsWith(QLatin1String("dword:"))) {
        bool ok = false;
        const uint number = data.mid(6).trimmed().toUInt(&ok, 16);
        if (!ok)
            return false;
        value.type = platform::RegDword;
        value.data.resize(4);
        qToLittleEndian<quint32>(number, value.data.data());
        return true;
    }
    if (!data.startsWith(QLatin1String("hex")))
        return false;
    const int colon = data.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    const QString kind = data.left(colon);
    if (kind == QLatin1String("hex")) {
        value.type = platform::RegBinary;
    } else if (kind.startsWith(QLatin1String("hex(")) && kind.endsWith(QLatin1Char(')'))) {
        bool ok = false;
        value.type = kind.mid(4, kind.size() - 5).toUInt(&ok, 16);
        if (!ok)
            return false;
    } else {
        return false;
    }
    value.data.clear();
    const QStringList bytes = data.mid(colon + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
    value.data.reserve(bytes.size());
    for (const QString &byte : bytes) {
        bool ok = false;
        const uint number = byte.trimmed().toUInt(&ok, 16);
        if (!ok || number > 0xFF)
            return false;
        value.data.append(static_cast<char>(number));
    }
    return true;
}

// The export's lines with the continued ones ("...,\" then the rest on the next line) joined.
QStringList logicalLines(const QString &text)
{
    QStringList lines;
    QString pending;
    for (const QStringRef &raw : text.splitRef(QLatin1Char('\n'))) {
        QString line = raw.trimmed().toString();
        if (!pending.isEmpty()) {
            line = pending + line;
            pending.clear();
        }
        if (line.endsWith(QLatin1Char('\\')) && !line.startsWith(QLatin1Char('['))) {
            pending = line.left(line.size() - 1);
            continue;
        }
        lines.append(line);
    }
    if (!pending.isEmpty())
        lines.append(pending);
    return lines;
}
} // namespace

RegistryFile RegistryFile::load(const QString &path)
{
    // The machine's registry, as the player may have shaped it: a regular file only, and only so much.
    QFile file(path);
    QString ignored;
    if (!platform::openRegularFile(file, ignored))
        return {};
    const QByteArray content = file.read(kLargestRegistryFile);
    QTextStream stream(content);
    stream.setCodec("UTF-8");
    stream.setAutoDetectUnicode(true);
    return parse(stream.readAll());
}

RegistryFile RegistryFile::parse(const QString &text)
{
    RegistryFile registry;
    Key *current = nullptr;
    // Where each key's values stand by their names (any case): a key of tens of thousands of values
    // is read in one pass, not compared name by name.
    QHash<QString, QHash<QString, int>> positions;
    QHash<QString, int> *position = nullptr;
    for (const QString &line : logicalLines(text)) {
        if (line.startsWith(QLatin1Char('['))) {
            current = nullptr;
            if (!line.endsWith(QLatin1Char(']')) || line.startsWith(QLatin1String("[-")))
                continue; // malformed, or a deletion entry
            const QString path = line.mid(1, line.size() - 2);
            current = &registry.keys[normalized(path)];
            position = &positions[normalized(path)];
            if (current->path.isEmpty())
                current->path = path;
            continue;
        }
        if (!current)
            continue;
        RegistryValue value;
        int afterName = 0;
        if (line.startsWith(QLatin1String("@="))) {
            afterName = 1;
        } else if (!line.startsWith(QLatin1Char('"')) || !readQuoted(line, 0, value.name, afterName)) {
            continue;
        }
        if (line.midRef(afterName, 1) != QLatin1String("=") || !readData(line.mid(afterName + 1), value))
            continue;
        // A later line for the same name replaces the earlier, as regedit's import does.
        const auto same = position->constFind(value.name.toCaseFolded());
        if (same != position->cend()) {
            current->values[*same] = value;
        } else {
            position->insert(value.name.toCaseFolded(), current->values.size());
            current->values.append(value);
        }
    }
    return registry;
}

QString RegistryFile::normalized(const QString &key)
{
    QString result = key.toLower();
    while (result.endsWith(QLatin1Char('\\')))
        result.chop(1);
    return result;
}

bool RegistryFile::keyExists(const QString &key) const
{
    const QString wanted = normalized(key);
    if (!wanted.contains(QLatin1Char('\\')))
        return true; // the hive itself
    const QString prefix = wanted + QLatin1Char('\\');
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        if (it.key() == wanted || it.key().startsWith(prefix))
            return true;
    }
    return false;
}

QString RegistryFile::value(const QString &key, const QString &name) const
{
    // One key's own values, without listing its sub-keys as contents() does.
    const auto found = keys.constFind(normalized(key));
    if (found == keys.cend())
        return QString();
    const RegistryValue *value = platform::findRegistryValue(found->values, name);
    return value ? value->text() : QString();
}

QStringList RegistryFile::keyPaths() const
{
    QStringList paths;
    for (const Key &key : keys)
        paths.append(key.path);
    paths.sort(Qt::CaseInsensitive);
    return paths;
}

platform::RegistryKeyContents RegistryFile::contents(const QString &key) const
{
    platform::RegistryKeyContents result;
    if (!keyExists(key))
        return result;
    result.access = platform::RegistryKeyContents::Read;
    const QString wanted = normalized(key);
    const auto own = keys.constFind(wanted);
    if (own != keys.cend())
        result.values = own->values;
    // Sub-keys are named by any section below, also one that skips a level.
    const QString prefix = wanted + QLatin1Char('\\');
    QSet<QString> seen;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        if (!it.key().startsWith(prefix))
            continue;
        const QString child = it->path.mid(prefix.size()).section(QLatin1Char('\\'), 0, 0);
        if (!child.isEmpty() && !seen.contains(child.toLower())) {
            seen.insert(child.toLower());
            result.subKeys.append(child);
        }
    }
    result.subKeys.sort(Qt::CaseInsensitive);
    return result;
}
