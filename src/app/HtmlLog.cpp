#include "app/HtmlLog.h"

#include <QTextBrowser>

void appendLogLine(QTextBrowser *log, const QString &colour, const QString &html)
{
    log->append(QStringLiteral("<span style='color:") + colour + QStringLiteral("'>") + html +
                QStringLiteral("</span>"));
}
