#pragma once

#include <QObject>
#include <QStringList>

// Whether a browser search term holds one of the suspicious words (case-sensitive, anywhere).
bool isSuspiciousTerm(const QString &term);

// Reads the search terms a player typed into one browser's search box: closes the browser, opens its
// History database read-only and hands the terms over, newest first.
class IBrowserHistoryParser : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(IBrowserHistoryParser)

public:
    using QObject::QObject;

    // Appends the browser's terms to `terms` and returns true when its database could be opened.
    // Announces the number of terms through elementsFound first.
    virtual bool parse(QStringList &terms) = 0;

signals:
    void elementsFound(int a);

protected:
    bool parseHistory(const QString &image, const QString &connectionName, const QString &databasePath,
                      QStringList &terms);
};

class ChromeBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool parse(QStringList &terms) override;
};

class YandexBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool parse(QStringList &terms) override;
};

class OperaBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool parse(QStringList &terms) override;
};
