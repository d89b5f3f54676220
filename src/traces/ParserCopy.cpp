#include "traces/ParserCopy.h"

#include <QDir>
#include <QFile>

ParserCopy::ParserCopy(const QByteArray &data, const QString &folder)
    : file(folder + QStringLiteral("/vigilor-evidence-XXXXXX"))
{
    valid = !folder.isEmpty() && file.open() && file.write(data) == data.size() && file.flush();
}

QByteArray ParserCopy::localName() const
{
    return QFile::encodeName(file.fileName());
}

std::wstring ParserCopy::wideName() const
{
    return QDir::toNativeSeparators(file.fileName()).toStdWString();
}
