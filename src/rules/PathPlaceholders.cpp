#include "rules/PathPlaceholders.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QProcessEnvironment>
#include <QRegularExpression>

namespace {
// The placeholders' values as the program found them, by upper-case name; set from the loader's
// thread, read from the workers'.
QMutex placeholderMutex;
QHash<QString, QString> &placeholderValues()
{
    // The game folder is empty until it is found, as a folder not found is.
    static QHash<QString, QString> values{{QStringLiteral("GAMEDIR"), QString()}};
    return values;
}

// The value of the placeholder `name` when one was set.
bool placeholderValue(const QString &name, QString &value)
{
    QMutexLocker lock(&placeholderMutex);
    const auto found = placeholderValues().constFind(name.toUpper());
    if (found == placeholderValues().cend())
        return false;
    value = *found;
    return true;
}

// The variable's value, or no value when it is not set. Where the system compares names with regard
// to case, an exact match wins, then the all-upper-case spelling, then the first other spelling in
// sort order, so that %appdata% finds APPDATA as it does on Windows.
bool lookUpVariable(const QString &name, QString &value)
{
    const QByteArray exact = name.toLocal8Bit();
    if (qEnvironmentVariableIsSet(exact.constData())) {
        value = qEnvironmentVariable(exact.constData());
        return true;
    }
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString upper = name.toUpper();
    if (environment.contains(upper)) {
        value = environment.value(upper);
        return true;
    }
    QStringList keys = environment.keys();
    keys.sort();
    for (const QString &key : qAsConst(keys)) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            value = environment.value(key);
            return true;
        }
    }
    return false;
}
} // namespace

QString expandPath(const QString &text, bool asFolder)
{
    static const QRegularExpression tokenExpression(QStringLiteral("%[0-9a-zA-Z_]+%"));

    // Tokens come from the input alone: text brought in by a replacement is never searched again.
    QStringList tokens;
    QRegularExpressionMatchIterator matches = tokenExpression.globalMatch(text);
    while (matches.hasNext())
        tokens.append(matches.next().captured(0));

    QString result = text;
    for (const QString &token : qAsConst(tokens)) {
        QString value;
        const QString name = QString(token).remove(QLatin1Char('%'));
        if (!placeholderValue(name, value) && !lookUpVariable(name, value))
            value = token;
        result.replace(token, value, Qt::CaseSensitive);
    }
    if (asFolder && !result.endsWith(QLatin1Char('/')) && !result.endsWith(QLatin1Char('\\')))
        result.append(QLatin1Char('/'));
    return QDir::toNativeSeparators(result);
}

void setPlaceholder(const QString &name, const QString &value)
{
    QMutexLocker lock(&placeholderMutex);
    placeholderValues().insert(name.toUpper(), value);
}
