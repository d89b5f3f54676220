#include "scan/BrowserHistoryParser.h"

#include "platform/Programs.h"
#include "scan/PathPlaceholders.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

bool isSuspiciousTerm(const QString &term)
{
    static const QRegularExpression suspicious(
        QStringLiteral("(hack)|(cheat)|(aim)|(wallhack)|(legit)|(rage)|(chams)|(чит)"));
    return suspicious.match(term).hasMatch();
}

bool IBrowserHistoryParser::parseHistory(const QString &image, const QString &connectionName,
                                         const QString &databasePath, QStringList &terms)
{
    // A running browser keeps its database locked; ask it to end first, without waiting.
    platform::endProgram(image);

    bool opened = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        database.setDatabaseName(expandPath(databasePath, false));
        // Read-only: the player's browser data is evidence and must not change, and a missing
        // database must not be created. A short busy timeout: a browser that still holds its lock
        // costs a moment, not seconds per query.
        database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=200"));
        opened = database.open();
        if (opened) {
            QSqlQuery count(database);
            int announced = 0;
            if (count.exec(QStringLiteral("select count(term) from keyword_search_terms")) && count.first())
                announced = count.value(0).toInt();
            emit elementsFound(announced);

            QSqlQuery query(database);
            if (query.exec(QStringLiteral("select term from keyword_search_terms order by url_id desc"))) {
                while (query.next()) {
                    // Rows without a term are not counted above, so they are not handed over either.
                    if (!query.isNull(0))
                        terms.append(query.value(0).toString());
                }
            }
        }
        database.close();
    }
    // Nothing of the connection outlives the read; the next scan opens it afresh.
    QSqlDatabase::removeDatabase(connectionName);
    return opened;
}

bool ChromeBrowserHistoryParser::parse(QStringList &terms)
{
    return parseHistory(QStringLiteral("chrome.exe"), QStringLiteral("chrome"),
                        QStringLiteral("%appdata%/../Local/Google/Chrome/User Data/Default/History"), terms);
}

bool YandexBrowserHistoryParser::parse(QStringList &terms)
{
    return parseHistory(QStringLiteral("browser.exe"), QStringLiteral("yandex"),
                        QStringLiteral("%appdata%/../Local/Yandex/YandexBrowser/User Data/Default/History"), terms);
}

bool OperaBrowserHistoryParser::parse(QStringList &terms)
{
    return parseHistory(QStringLiteral("opera.exe"), QStringLiteral("opera"),
                        QStringLiteral("%appdata%/Opera Software/Opera Stable/History"), terms);
}
