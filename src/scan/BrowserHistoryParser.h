#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QUrl;
struct ChromiumBrowser;

// Whether a browser search term holds one of the suspicious words (case-sensitive, anywhere).
bool isSuspiciousTerm(const QString &term);

// The search text of a search engine's result page (Google, Bing, Yandex or DuckDuckGo), decoded;
// empty for any other address.
QString searchTermOfResultPage(const QUrl &url);

// The profile folders a Firefox profiles.ini lists, in the file's order, relative entries resolved
// against the file's folder.
QStringList firefoxProfileFolders(const QString &profilesIni);

// One search term with where it was found.
struct SearchTerm
{
    QString term;
    QString browser; // such as "Microsoft Edge"
    QString profile; // the profile's folder name, such as "Profile 1"
    // False for the default profile of Chrome, Yandex Browser and Opera, whose findings have always
    // been shown without their source.
    bool sourceShown = true;
};

// Reads the search terms a player typed into one browser: closes the browser, reads its history
// databases without changing them and hands the terms over, newest first.
class IBrowserHistoryParser : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(IBrowserHistoryParser)

public:
    using QObject::QObject;

    // Appends the browser's terms to `terms` and returns true when any of its databases is there.
    // Announces the number of terms through elementsFound first.
    virtual bool collect(QList<SearchTerm> &terms) = 0;

    // The same, terms only.
    virtual bool parse(QStringList &terms);

signals:
    void elementsFound(int a);

protected:
    bool collectChromium(const ChromiumBrowser &browser, QList<SearchTerm> &terms);
    // Announces `found` and appends it to `terms`.
    void deliver(const QList<SearchTerm> &found, QList<SearchTerm> &terms);
};

class ChromeBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool collect(QList<SearchTerm> &terms) override;
};

class YandexBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool collect(QList<SearchTerm> &terms) override;
};

class OperaBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool collect(QList<SearchTerm> &terms) override;
};

class EdgeBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool collect(QList<SearchTerm> &terms) override;
};

class BraveBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool collect(QList<SearchTerm> &terms) override;
};

class VivaldiBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool collect(QList<SearchTerm> &terms) override;
};

class ChromiumBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool collect(QList<SearchTerm> &terms) override;
};

class OperaGxBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool collect(QList<SearchTerm> &terms) override;
};

// Firefox keeps what was typed into its search bar in formhistory.sqlite and the result pages of
// searches (also those typed into the address bar) in places.sqlite, in every profile profiles.ini
// lists.
class FirefoxBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    bool collect(QList<SearchTerm> &terms) override;
};
