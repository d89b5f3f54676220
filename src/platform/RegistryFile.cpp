#include "platform/RegistryFile.h"

#include <QFile>
#include <QTextStream>

namespace {
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
} // namespace

RegistryFile RegistryFile::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    stream.setAutoDetectUnicode(true);
    return parse(stream.readAll());
}

RegistryFile RegistryFile::parse(const QString &text)
{
    RegistryFile registry;
    QHash<QString, QString> *current = nullptr;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            current = nullptr;
            if (!line.endsWith(QLatin1Char(']')) || line.startsWith(QLatin1String("[-")))
                continue; // malformed, or a deletion entry
            current = &registry.keys[normalized(line.mid(1, line.size() - 2))];
            continue;
        }
        if (!current)
            continue;
        QString name;
        int afterName = 0;
        if (line.startsWith(QLatin1String("@="))) {
            afterName = 1;
        } else if (!line.startsWith(QLatin1Char('"')) || !readQuoted(line, 0, name, afterName)) {
            continue;
        }
        // Only text values are kept: "Name"="text".
        QString value;
        int afterValue = 0;
        if (line.mid(afterName, 2) != QLatin1String("=\"") || !readQuoted(line, afterName + 1, value, afterValue))
            continue;
        current->insert(name.toLower(), value);
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
    return keys.value(normalized(key)).value(name.toLower());
}
