#include "TestMain.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

// The rule of src/CMakeLists.txt, read from the #include lines of src/: no dependency runs back up,
// and a trace source stands on its own. And no file of src/ or server/ grows past what a reader holds
// in their head.
class IncludeRuleTest : public QObject
{
    Q_OBJECT

private slots:
    void includesFollowTheLayers();
    void filesStayShort();
};

namespace {
const QStringList kPages = {QStringLiteral("scan"),     QStringLiteral("traces"), QStringLiteral("report"),
                            QStringLiteral("accounts"), QStringLiteral("tools"),  QStringLiteral("app")};

// The traces' collector and page: no source and no other step builds on them.
const QStringList kNotShared = {QStringLiteral("traces/ExecutionTraces.h"), QStringLiteral("traces/TracesWidget.h"),
                                QStringLiteral("traces/TraceTableModel.h")};

// Headers one page offers others: app/'s helpers to every page, the pages' widgets, the record and its
// counts to app/, the traces' collection to the scan and the report, the traces' shared readers to the drivers
// check, and the drivers' types to the report.
bool meantFor(const QString &header, const QString &from)
{
    static const QStringList kHelpers = {QStringLiteral("app/HtmlLog.h"), QStringLiteral("app/PlainTextBox.h"),
                                         QStringLiteral("app/ScanProgress.h"), QStringLiteral("app/RowFilterModel.h")};
    static const QRegularExpression kWidget(QStringLiteral("^[a-z]+/[A-Za-z]+Widget\\.h$"));
    if (kHelpers.contains(header))
        return true;
    if (from == QLatin1String("app"))
        return kWidget.match(header).hasMatch() || header == QLatin1String("report/CheckRecord.h") ||
               header == QLatin1String("report/FindingCounts.h");
    if (from == QLatin1String("drivers"))
        return header.startsWith(QLatin1String("traces/")) && !kNotShared.contains(header);
    if (from == QLatin1String("report") && header == QLatin1String("drivers/DriverTypes.h"))
        return true;
    return header == QLatin1String("traces/ExecutionTraces.h") &&
           (from == QLatin1String("scan") || from == QLatin1String("report"));
}

// A trace source reads through the platform layer, the rules layer and the traces' shared parts; it
// never includes the collector, the page or another source.
bool sourceMayInclude(const QString &file, const QString &header)
{
    const QString to = header.section(QLatin1Char('/'), 0, 0);
    if (to == QLatin1String("platform") || to == QLatin1String("rules"))
        return true;
    if (to != QLatin1String("traces") || kNotShared.contains(header))
        return false;
    return !header.startsWith(QLatin1String("traces/sources/")) ||
           QFileInfo(header).completeBaseName() == QFileInfo(file).completeBaseName();
}

bool allowed(const QString &from, const QString &header)
{
    const QString to = header.section(QLatin1Char('/'), 0, 0);
    if (to == from)
        return true;
    if (from == QLatin1String("platform"))
        return false;
    if (from == QLatin1String("rules"))
        return to == QLatin1String("platform");
    const QStringList below = {QStringLiteral("platform"), QStringLiteral("rules")};
    if (from == QLatin1String("content"))
        return below.contains(to);
    return below.contains(to) || to == QLatin1String("content") || meantFor(header, from);
}
} // namespace

void IncludeRuleTest::includesFollowTheLayers()
{
    static const QRegularExpression kInclude(QStringLiteral("^#include \"([a-z]+/[^\"]+)\""),
                                             QRegularExpression::MultilineOption);
    QStringList broken;
    int files = 0;
    const QString source = QStringLiteral(VIGILOR_SOURCE_DIR);
    QDirIterator it(source, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(source.size() + 1);
        const QString from = relative.section(QLatin1Char('/'), 0, 0);
        const bool traceSource = relative.startsWith(QLatin1String("traces/sources/"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        ++files;
        auto includes = kInclude.globalMatch(QString::fromUtf8(file.readAll()));
        while (includes.hasNext()) {
            const QString header = includes.next().captured(1);
            if (!allowed(from, header) || (traceSource && !sourceMayInclude(relative, header)))
                broken.append(relative + QStringLiteral(" includes ") + header);
        }
    }
    QVERIFY(files > 50);
    QVERIFY2(broken.isEmpty(), qPrintable(broken.join(QLatin1Char('\n'))));
}

void IncludeRuleTest::filesStayShort()
{
    constexpr int kLongestFile = 500;
    QStringList tooLong;
    int files = 0;
    for (const QString &root : {QStringLiteral(VIGILOR_SOURCE_DIR), QStringLiteral(VIGILOR_SERVER_DIR)}) {
        QDirIterator it(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            ++files;
            const int lines = file.readAll().count('\n');
            if (lines > kLongestFile)
                tooLong.append(QStringLiteral("%1: %2 lines").arg(QDir(root).relativeFilePath(path)).arg(lines));
        }
    }
    QVERIFY(files > 100);
    QVERIFY2(tooLong.isEmpty(), qPrintable(tooLong.join(QLatin1Char('\n'))));
}

VIGILOR_GUILESS_TEST_MAIN(IncludeRuleTest)
#include "IncludeRuleTest.moc"
