#include "scan/SusProgrammsWidget.h"

#include "app/HtmlLog.h"
#include "app/ScanProgress.h"
#include "content/ContentLoader.h"
#include "platform/RegistryHives.h"
#include "scan/BrowserHistoryParser.h"
#include "scan/FileHash.h"
#include "scan/FileScanner.h"
#include "ui_SusProgrammsWidget.h"

#include <QTextDocumentFragment>

namespace {
// A search term is shown cut to this many UTF-16 units; the suspicion test sees all of it.
constexpr int kShownTermLength = 100;
} // namespace

SusProgrammsWidget::SusProgrammsWidget(QWidget *parent) : QWidget(parent), ui(new Ui::SusProgrammsWidget)
{
    ui->setupUi(this);
    parsers = {new ChromeBrowserHistoryParser,   new YandexBrowserHistoryParser,  new OperaBrowserHistoryParser,
               new EdgeBrowserHistoryParser,     new BraveBrowserHistoryParser,   new VivaldiBrowserHistoryParser,
               new ChromiumBrowserHistoryParser, new OperaGxBrowserHistoryParser, new FirefoxBrowserHistoryParser};
    for (IBrowserHistoryParser *parser : qAsConst(parsers))
        connect(parser, &IBrowserHistoryParser::elementsFound, this, &SusProgrammsWidget::extendProgressBar);
    detectionCount = 0;
    connect(ui->scanButton, &QPushButton::clicked, this, &SusProgrammsWidget::scan);
}

SusProgrammsWidget::~SusProgrammsWidget()
{
    qDeleteAll(parsers);
    delete ui;
}

void SusProgrammsWidget::extendProgressBar(int a)
{
    ui->progressBar->setMaximum(ui->progressBar->maximum() + a);
}

void SusProgrammsWidget::updateCountLabel()
{
    ui->label->setText(tr("Всего обнаружений: ") + QString::number(detectionCount));
}

void SusProgrammsWidget::report(const QString &colour, const QString &html)
{
    appendLogLine(ui->log, colour, html);
    ++detectionCount;
    updateCountLabel();
}

void SusProgrammsWidget::advanceProgress()
{
    ui->progressBar->setValue(ui->progressBar->value() + 1);
}

void SusProgrammsWidget::scan()
{
    FileScanner scanner;
    const QList<DetectionRule> rules = ContentLoader::instance()->rules();

    ui->log->clear();
    // Each scan counts afresh, so the label always matches the lines in the log.
    detectionCount = 0;
    updateCountLabel();
    startScanProgress(ui->progressBar, rules.size());
    emit scanStarted();

    for (const DetectionRule &rule : rules) {
        // The description and registry paths come from our content server and may hold markup;
        // file names come from the examined machine and are shown as text.
        const QString colour = rule.level != 0 ? QStringLiteral("red") : QStringLiteral("orange");
        const QString prefix = rule.desc + QStringLiteral(": ");
        const QString description = QTextDocumentFragment::fromHtml(rule.desc).toPlainText();
        if (rule.registry) {
            for (const QString &root : rule.roots) {
                if (scanner.registryKeyExists(root, HKEY_LOCAL_MACHINE)) {
                    report(colour, prefix + root);
                    emit ruleMatched(rule.level, description, root);
                }
            }
        } else {
            for (const QString &root : rule.roots) {
                const QStringList entries = scanner.scanFolder(root, rule.filename);
                for (const QString &path : entries) {
                    // With digests the name only narrows what is hashed; the digest decides.
                    if (!rule.sha256.isEmpty() && !rule.sha256.contains(fileSha256(path)))
                        continue;
                    report(colour, prefix + path.toHtmlEscaped());
                    emit ruleMatched(rule.level, description, path);
                }
            }
        }
        advanceProgress();
    }

    QList<SearchTerm> terms;
    for (IBrowserHistoryParser *parser : qAsConst(parsers))
        parser->collect(terms);
    for (const SearchTerm &found : qAsConst(terms)) {
        if (isSuspiciousTerm(found.term)) {
            QString line = tr("Подозрительный запрос: ") + found.term.left(kShownTermLength).toHtmlEscaped();
            // Profile folder names are the player's too.
            if (found.sourceShown)
                line += QStringLiteral(" (") + (found.browser + QStringLiteral(", ") + found.profile).toHtmlEscaped() +
                        QLatin1Char(')');
            report(QStringLiteral("orange"), line);
            emit suspiciousTermFound(found.term, found.browser, found.profile);
        }
        advanceProgress();
    }
    finishScanProgress(ui->progressBar);
    emit scanFinished();
}
