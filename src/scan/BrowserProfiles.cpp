#include "scan/BrowserHistoryParser.h"

#include "platform/FileSystem.h"
#include "platform/Programs.h"
#include "rules/PathPlaceholders.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <iterator>

const ChromiumBrowser kChromiumBrowsers[8] = {
    {"chrome.exe", "Google Chrome", "%appdata%/../Local/Google/Chrome/User Data", true, true},
    {"browser.exe", "Yandex Browser", "%appdata%/../Local/Yandex/YandexBrowser/User Data", true, true},
    {"opera.exe", "Opera", "%appdata%/Opera Software/Opera Stable", false, true},
    {"msedge.exe", "Microsoft Edge", "%appdata%/../Local/Microsoft/Edge/User Data", true, false},
    {"brave.exe", "Brave", "%appdata%/../Local/BraveSoftware/Brave-Browser/User Data", true, false},
    {"vivaldi.exe", "Vivaldi", "%appdata%/../Local/Vivaldi/User Data", true, false},
    {"chrome.exe", "Chromium", "%appdata%/../Local/Chromium/User Data", true, false},
    {"opera.exe", "Opera GX", "%appdata%/Opera Software/Opera GX Stable", false, false},
};

namespace {
const QString kDefaultProfile = QStringLiteral("Default");
const QString kHistory = QStringLiteral("History");

// The key/value pairs of each section of an INI text, sections in the file's order.
QList<QPair<QString, QHash<QString, QString>>> iniSections(const QString &path)
{
    QList<QPair<QString, QHash<QString, QString>>> sections;
    QFile file(path);
    QString ignored;
    if (!platform::openRegularFile(file, ignored))
        return sections;
    // Bounded: the file is the player's, and a profile list is a few hundred bytes.
    const QString text = QString::fromUtf8(file.read(1024 * 1024));
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            sections.append({line.mid(1, line.size() - 2), {}});
        } else if (!sections.isEmpty() && !line.startsWith(QLatin1Char(';')) && line.contains(QLatin1Char('='))) {
            const int equals = line.indexOf(QLatin1Char('='));
            sections.last().second.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
        }
    }
    return sections;
}
} // namespace

QStringList firefoxProfileFolders(const QString &profilesIni)
{
    const QDir base = QFileInfo(profilesIni).absoluteDir();
    QStringList folders;
    QSet<QString> seen;
    for (const auto &section : iniSections(profilesIni)) {
        if (!section.first.startsWith(QLatin1String("Profile")))
            continue;
        const QString path = QDir::fromNativeSeparators(section.second.value(QStringLiteral("Path")));
        if (path.isEmpty())
            continue;
        // Firefox writes relative entries with IsRelative=1; a relative path is taken as one either way.
        const bool relative =
            section.second.value(QStringLiteral("IsRelative")) == QLatin1String("1") || QDir::isRelativePath(path);
        const QString folder = QDir::cleanPath(relative ? base.filePath(path) : path);
        if (!seen.contains(folder)) {
            seen.insert(folder);
            folders.append(folder);
        }
    }
    return folders;
}

ChromiumHistoryParser::ChromiumHistoryParser(const ChromiumBrowser &browser, QObject *parent)
    : IBrowserHistoryParser(parent), browser(browser)
{
}

QString ChromiumHistoryParser::browserName() const
{
    return QString::fromUtf8(browser.name);
}

QVector<HistorySource> ChromiumHistoryParser::sources()
{
    // A running browser keeps its database locked; ask it to end first, without waiting.
    platform::endProgram(QString::fromLatin1(browser.image));

    const QString root = QString::fromUtf8(browser.root);
    QStringList profiles;
    if (browser.profiles) {
        profiles.append(kDefaultProfile);
        const QDir userData(QDir::cleanPath(expandPath(root, true)));
        // A listing of the player's folder, bounded; one profile past the limit tells the collector to
        // name the cut.
        QStringList folders;
        QDirIterator entries(userData.path(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        while (entries.hasNext() && folders.size() < platform::kLargestFolderListing)
            folders.append(QFileInfo(entries.next()).fileName());
        std::sort(folders.begin(), folders.end());
        for (const QString &folder : qAsConst(folders)) {
            if (profiles.size() > kLargestBrowserProfiles)
                break;
            if (folder != kDefaultProfile &&
                QFileInfo(userData.filePath(folder + QLatin1Char('/') + kHistory)).isFile())
                profiles.append(folder);
        }
    } else {
        profiles.append(QString());
    }
    QVector<HistorySource> sources;
    for (int i = 0; i < profiles.size(); ++i) {
        const QString &profile = profiles.at(i);
        const QString folder = profile.isEmpty() ? root : root + QLatin1Char('/') + profile;
        const QString shownProfile = profile.isEmpty() ? QFileInfo(expandPath(root, false)).fileName() : profile;
        sources.append({expandPath(folder + QLatin1Char('/') + kHistory, false), HistorySource::ChromiumSearchTerms,
                        shownProfile, !(i == 0 && browser.defaultUnlabelled)});
    }
    return sources;
}

ChromeBrowserHistoryParser::ChromeBrowserHistoryParser(QObject *parent)
    : ChromiumHistoryParser(kChromiumBrowsers[0], parent)
{
}

YandexBrowserHistoryParser::YandexBrowserHistoryParser(QObject *parent)
    : ChromiumHistoryParser(kChromiumBrowsers[1], parent)
{
}

OperaBrowserHistoryParser::OperaBrowserHistoryParser(QObject *parent)
    : ChromiumHistoryParser(kChromiumBrowsers[2], parent)
{
}

QList<IBrowserHistoryParser *> makeBrowserHistoryParsers()
{
    QList<IBrowserHistoryParser *> parsers = {new ChromeBrowserHistoryParser, new YandexBrowserHistoryParser,
                                              new OperaBrowserHistoryParser};
    for (std::size_t i = 3; i < std::size(kChromiumBrowsers); ++i)
        parsers.append(new ChromiumHistoryParser(kChromiumBrowsers[i]));
    parsers.append(new FirefoxBrowserHistoryParser);
    return parsers;
}

QString FirefoxBrowserHistoryParser::browserName() const
{
    return QStringLiteral("Firefox");
}

QVector<HistorySource> FirefoxBrowserHistoryParser::sources()
{
    platform::endProgram(QStringLiteral("firefox.exe"));

    QVector<HistorySource> sources;
    const QStringList profiles =
        firefoxProfileFolders(expandPath(QStringLiteral("%appdata%/Mozilla/Firefox/profiles.ini"), false));
    for (const QString &profile : profiles) {
        const QDir folder(profile);
        sources.append({folder.filePath(QStringLiteral("formhistory.sqlite")), HistorySource::FirefoxSearchBar,
                        folder.dirName(), true});
        sources.append({folder.filePath(QStringLiteral("places.sqlite")), HistorySource::FirefoxResultPages,
                        folder.dirName(), true});
    }
    return sources;
}
