#include "scan/SusProgrammsWidget.h"

#include "app/HtmlLog.h"
#include "app/ScanProgress.h"
#include "content/ContentLoader.h"
#include "platform/CaptureHiding.h"
#include "platform/FileSystem.h"
#include "platform/RegistryHives.h"
#include "rules/FileHash.h"
#include "rules/FileScanner.h"
#include "rules/PathPlaceholders.h"
#include "rules/Signatures.h"
#include "scan/BrowserHistoryParser.h"
#include "traces/ExecutionTraces.h"
#include "ui_SusProgrammsWidget.h"

#include <QDir>
#include <QHash>
#include <QTextDocumentFragment>
#include <QThread>

#include <memory>
#include <thread>

namespace {
// A search term is shown cut to this many UTF-16 units; the suspicion test sees all of it.
constexpr int kShownTermLength = 100;

// The colour of a rule's or a signature's hits: orange for level 0, red for any other.
QString levelColour(int level)
{
    return level != 0 ? QStringLiteral("red") : QStringLiteral("orange");
}
} // namespace

SusProgrammsWidget::SusProgrammsWidget(QWidget *parent) : QWidget(parent), ui(new Ui::SusProgrammsWidget)
{
    ui->setupUi(this);
    parsers = makeBrowserHistoryParsers();
    for (IBrowserHistoryParser *parser : qAsConst(parsers))
        connect(parser, &IBrowserHistoryParser::elementsFound, this, &SusProgrammsWidget::extendProgressBar);
    detectionCount = 0;
    connect(ui->scanButton, &QPushButton::clicked, this, &SusProgrammsWidget::scan);
}

SusProgrammsWidget::~SusProgrammsWidget()
{
    // The steps only read: the one under way is asked to stop, then waited for.
    if (worker) {
        stopping = true;
        worker->wait();
        delete worker;
    }
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

void SusProgrammsWidget::advanceProgress(int by)
{
    ui->progressBar->setValue(ui->progressBar->value() + by);
}

void SusProgrammsWidget::scan()
{
    if (worker)
        return;
    stopping = false;
    FileScanner scanner;
    const QList<DetectionRule> rules = ContentLoader::instance()->rules();

    ui->log->clear();
    // Each scan counts afresh, so the label always matches the lines in the log.
    detectionCount = 0;
    updateCountLabel();
    startScanProgress(ui->progressBar, rules.size());
    emit scanStarted();

    // Each file is hashed once a scan per kind of digest, however many digest rules list it; one that
    // cannot be is named.
    QHash<QString, QString> digests;
    QHash<QString, QString> sha1Digests;
    const auto digestOf = [this](QHash<QString, QString> &cache, const QString &path,
                                 QString (*hash)(const QString &, QString *)) {
        auto known = cache.find(path);
        if (known == cache.end()) {
            QString error;
            known = cache.insert(path, hash(path, &error));
            // A folder the listing names (itself among them) has no digest to miss.
            if (known->isEmpty() && !QFileInfo(path).isDir()) {
                appendLogLine(ui->log, QStringLiteral("orange"),
                              tr("Не прочитано: %1 (%2)").arg(path, error).toHtmlEscaped());
                emit notRead(path, error);
            }
        }
        return *known;
    };
    for (const DetectionRule &rule : rules) {
        // The description and registry paths come from our content server and may hold markup;
        // file names come from the examined machine and are shown as text.
        const QString colour = levelColour(rule.level);
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
                    if ((!rule.sha256.isEmpty() || !rule.sha1.isEmpty()) &&
                        !(!rule.sha256.isEmpty() && rule.sha256.contains(digestOf(digests, path, fileSha256))) &&
                        !(!rule.sha1.isEmpty() && rule.sha1.contains(digestOf(sha1Digests, path, fileSha1))))
                        continue;
                    report(colour, prefix + path.toHtmlEscaped());
                    emit ruleMatched(rule.level, description, path);
                }
            }
        }
        advanceProgress();
    }

    startBrowserStep(rules);
}

void SusProgrammsWidget::runInBackground(const std::function<void()> &work, const std::function<void()> &done)
{
    ui->scanButton->setEnabled(false);
    worker = QThread::create(work);
    connect(worker, &QThread::finished, this, [this, done] {
        worker->deleteLater();
        worker = nullptr;
        done();
    });
    worker->start(QThread::LowPriority);
}

void SusProgrammsWidget::startBrowserStep(const QList<DetectionRule> &rules)
{
    // The databases are the player's: each read is bounded, and the window paints meanwhile. The
    // browsers' counts reach the bar as queued signals, before the step's end.
    // Only the suspicious terms reach the window: a real history holds over a million, and testing or
    // counting them one by one there would freeze it for seconds.
    auto terms = std::make_shared<QVector<SearchTerm>>();
    auto read = std::make_shared<int>(0);
    auto unread = std::make_shared<QVector<UnreadHistory>>();
    auto hidden = std::make_shared<platform::HiddenWindows>();
    const QList<IBrowserHistoryParser *> browsers = parsers;
    const std::atomic<bool> *stop = &stopping;
    runInBackground(
        [browsers, terms, read, unread, hidden, stop] {
            QVector<SearchTerm> all;
            collectBrowserTerms(browsers, all, unread.get(), stop);
            *read = all.size();
            for (SearchTerm &term : all) {
                if (isSuspiciousTerm(term.term))
                    terms->append(std::move(term));
            }
            // The windows are asked while the browsers' step runs: a short walk that the GUI need not wait for.
            *hidden = platform::windowsHiddenFromCapture();
        },
        [this, rules, terms, read, unread, hidden] {
            reportBrowserTerms(*terms, *read, *unread);
            reportHiddenWindows(*hidden);
            // A cancelled scan ends after the browsers: the signatures do not start.
            if (ContentLoader::instance()->signatures() && !stopping)
                startSignatureStep(rules);
            else
                endScan();
        });
}

void SusProgrammsWidget::reportHiddenWindows(const platform::HiddenWindows &hidden)
{
    // A menu drawn over the game that the examiner's screen recording never shows; titles and images
    // are the machine's.
    for (const platform::HiddenWindow &window : hidden.windows) {
        const QString image = window.image.isEmpty() ? tr("образ не назван") : window.image;
        const QString target = tr("%1 (%2, PID %3)").arg(window.title, image).arg(window.pid);
        report(QStringLiteral("red"), (tr("Окно скрыто от записи экрана: ") + target).toHtmlEscaped());
        emit windowHidden(window.title, window.image, window.pid, target);
    }
    if (!hidden.why.isEmpty()) {
        const QString what = tr("окна, скрытые от записи экрана");
        appendLogLine(ui->log, QStringLiteral("orange"),
                      tr("Не проверено: %1 (%2)").arg(what, hidden.why).toHtmlEscaped());
        emit notRead(what, hidden.why);
    }
}

void SusProgrammsWidget::reportBrowserTerms(const QVector<SearchTerm> &suspicious, int read,
                                            const QVector<UnreadHistory> &unread)
{
    for (const SearchTerm &found : suspicious) {
        QString line = tr("Подозрительный запрос: ") + found.term.left(kShownTermLength).toHtmlEscaped();
        // Profile folder names are the player's too.
        if (found.sourceShown)
            line += QStringLiteral(" (") + (found.browser + QStringLiteral(", ") + found.profile).toHtmlEscaped() +
                    QLatin1Char(')');
        report(QStringLiteral("orange"), line);
        emit suspiciousTermFound(found.term, found.browser, found.profile);
    }
    advanceProgress(read);
    // Not a detection, so not counted: the examiner learns where the scan could not look.
    for (const UnreadHistory &database : unread) {
        appendLogLine(ui->log, QStringLiteral("orange"),
                      tr("История браузера не прочитана: %1 (%2)").arg(database.path, database.reason).toHtmlEscaped());
        emit notRead(database.path, database.reason);
    }
}

void SusProgrammsWidget::endScan()
{
    finishScanProgress(ui->progressBar);
    ui->scanButton->setEnabled(true);
    emit scanFinished();
}

void SusProgrammsWidget::startSignatureStep(const QList<DetectionRule> &rules)
{
    // The folders the rule scan listed; their files are listed again on the worker.
    QStringList folders;
    for (const DetectionRule &rule : rules) {
        if (rule.registry)
            continue;
        for (const QString &root : rule.roots)
            folders.append(expandPath(root, true));
    }
    const std::shared_ptr<const SignatureRules> signatures = ContentLoader::instance()->signatures();
    const ContentLoader *content = ContentLoader::instance();
    const TraceMachine machine =
        TraceMachine::current(content->gameImages(), {content->gameDir(), content->steamDir()});
    auto result = std::make_shared<SignatureScan>();
    const auto progress = backgroundProgress(ui->progressBar, ui->progressBar->maximum());
    const std::atomic<bool> *stop = &stopping;
    const auto work = [signatures, folders, machine, result, progress, stop] {
        // The programs the traces name that are still there, collected afresh beside the listing:
        // both mostly wait on the disk.
        TraceCollection traces;
        std::thread tracing([&traces, &machine, stop] { traces = collectTraces(machine, {}, {}, false, stop); });
        QStringList files;
        QVector<SignatureProblem> crowded;
        for (const QString &folder : folders) {
            // What the player hid is scanned too; a folder filled to bury a loader is cut and named.
            bool cut = false;
            for (const QFileInfo &entry : platform::listFiles(folder, {}, cut))
                files.append(entry.filePath());
            if (cut)
                crowded.append({SignatureProblem::NotRead, QDir::toNativeSeparators(QDir::cleanPath(folder)), -1,
                                tr("больше %1 файлов, проверены первые").arg(platform::kLargestFolderListing)});
        }
        tracing.join();
        for (const TraceRow &row : traces.rows) {
            if (row.state == TraceState::Present)
                files.append(row.path);
            else if (!row.storedAt.isEmpty())
                files.append(row.storedAt); // a file in the Recycle Bin
        }
        // And what the game loaded from elsewhere, where it is still there.
        for (const QString &loaded : traces.gameLoaded) {
            if (QFileInfo::exists(loaded))
                files.append(loaded);
        }
        const QVector<platform::RunningProcess> processes = platform::runningProcesses();
        for (const platform::RunningProcess &process : processes) {
            if (!process.path.isEmpty())
                files.append(process.path);
        }
        *result = scanSignatures(*signatures, files, processes, progress, stop);
        result->problems += crowded;
    };
    runInBackground(work, [this, result] {
        reportSignatures(*result);
        endScan();
    });
}

void SusProgrammsWidget::reportSignatures(const SignatureScan &result)
{
    for (const SignatureMatch &match : result.matches) {
        // The description is the league's and may hold markup; paths and images are the machine's.
        report(levelColour(match.level),
               match.description + QStringLiteral(": ") + signatureHitText(match).toHtmlEscaped());
        emit signatureMatched(match.level, QTextDocumentFragment::fromHtml(match.description).toPlainText(), match.rule,
                              match.target, match.pid);
    }
    for (const SignatureProblem &problem : result.problems) {
        const QString line = signatureProblemText(problem).toHtmlEscaped();
        if (problem.red()) {
            report(QStringLiteral("red"), line);
            emit signatureFailed(problem.target, problem.pid,
                                 problem.kind == SignatureProblem::TimedOut ? QStringLiteral("timeout")
                                                                            : problem.reason);
        } else {
            appendLogLine(ui->log, QStringLiteral("orange"), line);
            emit notRead(problem.target, problem.reason);
        }
    }
    QString summary = tr("Сигнатуры: проверено файлов %1, процессов %2; пропущено файлов больше 1 ГиБ: %3; "
                         "не удалось открыть процессов: %4")
                          .arg(result.files)
                          .arg(result.processes)
                          .arg(result.skippedForSize)
                          .arg(result.notOpened);
    if (result.unreadable > 0)
        summary += tr("; не удалось прочитать файлов: %1").arg(result.unreadable);
    if (result.timedOut > 0)
        summary += tr("; прервано по времени: %1").arg(result.timedOut);
    // A plain paragraph of its own: not a detection, and not coloured like the line before it.
    ui->log->append(QStringLiteral("<span>%1</span>").arg(summary.toHtmlEscaped()));
}
