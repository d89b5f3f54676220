#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>

class QUrl;

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
// Moved in memory as a whole, so that a long list of terms grows without copying each one.
Q_DECLARE_TYPEINFO(SearchTerm, Q_MOVABLE_TYPE);

// A history database that is there but could not be read in full, and why (in the examiner's words).
struct UnreadHistory
{
    QString path;
    QString reason;
};

// One history database of a browser, and how its terms are read.
struct HistorySource
{
    enum Kind { ChromiumSearchTerms, FirefoxSearchBar, FirefoxResultPages };
    QString path;
    Kind kind = ChromiumSearchTerms;
    QString profile;
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
    // Announces the number of terms through elementsFound first. Databases that are there but were
    // not read in full (a view where a table should be, out of time or rows, a special file) are
    // appended to `unread`; what of them could be read is handed over all the same.
    bool collect(QVector<SearchTerm> &terms, QVector<UnreadHistory> *unread = nullptr);

    // The same, terms only.
    bool parse(QStringList &terms);

    // The browser's name as findings show it, such as "Microsoft Edge".
    virtual QString browserName() const = 0;

    // Asks the running browser to end (it keeps its databases locked) and names its databases, in the
    // order their terms are handed over.
    virtual QVector<HistorySource> sources() = 0;

signals:
    void elementsFound(int a);
};

// The most profiles of one browser that are read: real ones have a handful, and each costs a read.
constexpr int kLargestBrowserProfiles = 64;

// Collects the terms of every browser in `parsers`, in their order, as each one's collect would; the
// databases of all of them are read side by side on the machine's cores. Which browsers had any.
// Each database is read for at most 5 s, 1,000,000 rows and 1 GiB; all stop soon after `stop` is set.
// A database is read once whatever links, junctions or profiles lead to it; a browser's profiles past
// kLargestBrowserProfiles are named in `unread`, not read.
QVector<bool> collectBrowserTerms(const QList<IBrowserHistoryParser *> &parsers, QVector<SearchTerm> &terms,
                                  QVector<UnreadHistory> *unread = nullptr, const std::atomic<bool> *stop = nullptr);

// The texts that tell one browser of the Chromium family from another: a row of kChromiumBrowsers.
struct ChromiumBrowser
{
    const char *image;      // the program image taskkill ends
    const char *name;       // shown beside findings
    const char *root;       // before expansion: "User Data", or the one profile's folder
    bool profiles;          // `root` holds profile folders, Default first
    bool defaultUnlabelled; // findings of the first profile keep their lines of old
};

// Chrome, Yandex Browser, Opera, Edge, Brave, Vivaldi, Chromium and Opera GX, in the order the scan
// reads them.
extern const ChromiumBrowser kChromiumBrowsers[8];

// A browser of the Chromium family, by its row: the keyword_search_terms of every profile's History.
class ChromiumHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    explicit ChromiumHistoryParser(const ChromiumBrowser &browser, QObject *parent = nullptr);
    QString browserName() const override;
    QVector<HistorySource> sources() override;

private:
    const ChromiumBrowser &browser;
};

// The three browsers of the first check, by their names of old.
class ChromeBrowserHistoryParser : public ChromiumHistoryParser
{
    Q_OBJECT

public:
    explicit ChromeBrowserHistoryParser(QObject *parent = nullptr);
};

class YandexBrowserHistoryParser : public ChromiumHistoryParser
{
    Q_OBJECT

public:
    explicit YandexBrowserHistoryParser(QObject *parent = nullptr);
};

class OperaBrowserHistoryParser : public ChromiumHistoryParser
{
    Q_OBJECT

public:
    explicit OperaBrowserHistoryParser(QObject *parent = nullptr);
};

// Firefox keeps what was typed into its search bar in formhistory.sqlite and the result pages of
// searches (also those typed into the address bar) in places.sqlite, in every profile profiles.ini
// lists.
class FirefoxBrowserHistoryParser : public IBrowserHistoryParser
{
    Q_OBJECT

public:
    using IBrowserHistoryParser::IBrowserHistoryParser;
    QString browserName() const override;
    QVector<HistorySource> sources() override;
};

// Every browser check, in the order the scan reads them: the Chromium family's rows, then Firefox.
// The caller owns them.
QList<IBrowserHistoryParser *> makeBrowserHistoryParsers();
