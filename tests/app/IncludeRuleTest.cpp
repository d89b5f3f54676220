#include "TestMain.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

// The rule of src/CMakeLists.txt, read from the #include lines of src/: no dependency runs back up.
class IncludeRuleTest : public QObject
{
    Q_OBJECT

private slots:
    void includesFollowTheLayers();
};

namespace {
const QStringList kPages = {QStringLiteral("scan"),   QStringLiteral("traces"), QStringLiteral("report"),
                            QStringLiteral("accounts"), QStringLiteral("tools"), QStringLiteral("app")};

// Headers one page offers others: app/'s helpers to every page, the pages' widgets and the record to
// app/, and the traces' collection to the scan and the report.
bool meantFor(const QString &header, const QString &from)
{
    static const QStringList kHelpers = {QStringLiteral("app/HtmlLog.h"), QStringLiteral("app/PlainTextBox.h"),
                                         QStringLiteral("app/ScanProgress.h")};
    static const QRegularExpression kWidget(QStringLiteral("^[a-z]+/[A-Za-z]+Widget\\.h$"));
    if (kHelpers.contains(header))
        return true;
    if (from == QLatin1String("app"))
        return kWidget.match(header).hasMatch() || header == QLatin1String("report/CheckRecord.h");
    return header == QLatin1String("traces/ExecutionTraces.h") &&
           (from == QLatin1String("scan") || from == QLatin1String("report"));
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
        const QString from = path.mid(source.size() + 1).section(QLatin1Char('/'), 0, 0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        ++files;
        auto includes = kInclude.globalMatch(QString::fromUtf8(file.readAll()));
        while (includes.hasNext()) {
            const QString header = includes.next().captured(1);
            if (!allowed(from, header))
                broken.append(path.mid(source.size() + 1) + QStringLiteral(" includes ") + header);
        }
    }
    QVERIFY(files > 50);
    QVERIFY2(broken.isEmpty(), qPrintable(broken.join(QLatin1Char('\n'))));
}

VIGILOR_GUILESS_TEST_MAIN(IncludeRuleTest)
#include "IncludeRuleTest.moc"
