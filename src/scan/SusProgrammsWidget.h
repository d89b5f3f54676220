#pragma once

#include <QList>
#include <QWidget>

#include <atomic>
#include <functional>

class IBrowserHistoryParser;
class QThread;
struct DetectionRule;
struct SearchTerm;
struct SignatureScan;
struct UnreadHistory;
namespace platform {
struct HiddenWindows;
}

namespace Ui {
class SusProgrammsWidget;
}

// The prohibited-programs page: tests every detection rule against the machine's folders and
// registry, then the browsers' search terms against the suspicious words, and reports each finding
// as one coloured log line with a running count.
class SusProgrammsWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(SusProgrammsWidget)

public:
    explicit SusProgrammsWidget(QWidget *parent = nullptr);
    ~SusProgrammsWidget() override;

signals:
    // What a scan found, for the record of the check: plain texts, no markup.
    void scanStarted();
    void ruleMatched(int level, const QString &description, const QString &target);
    void suspiciousTermFound(const QString &term, const QString &browser, const QString &profile);
    // A YARA rule matched a file (pid -1) or a process's memory (target: the process's image name).
    void signatureMatched(int level, const QString &description, const QString &rule, const QString &target,
                          qint64 pid);
    // A file or memory that could not be scanned in full, in red: it hides as much as a hit shows.
    // `error` is "timeout" for one that ran out of time, else the reason.
    void signatureFailed(const QString &target, qint64 pid, const QString &error);
    // A visible window of another program that keeps itself out of screen capture; `target` is the
    // line's own text after its caption.
    void windowHidden(const QString &title, const QString &image, qint64 pid, const QString &target);
    // Something that is there but could not be looked at in full, and why.
    void notRead(const QString &target, const QString &reason);
    void scanFinished();

public slots:
    void scan();
    // Asks the step under way to stop after its current item; the steps after it do not start.
    void cancel() { stopping = true; }

protected slots:
    void extendProgressBar(int a);

private:
    void updateCountLabel();
    void report(const QString &colour, const QString &html);
    void advanceProgress(int by = 1);
    // Runs `work` on a worker thread, then `done` on this one.
    void runInBackground(const std::function<void()> &work, const std::function<void()> &done);
    // Reads the browsers' terms on a worker thread, then goes on with the signature step.
    void startBrowserStep(const QList<DetectionRule> &rules);
    // The suspicious ones of the `read` terms, and the databases not read in full.
    void reportBrowserTerms(const QVector<SearchTerm> &suspicious, int read, const QVector<UnreadHistory> &unread);
    void reportHiddenWindows(const platform::HiddenWindows &hidden);
    // Matches the league's signatures on a worker thread; the scan ends when it does.
    void startSignatureStep(const QList<DetectionRule> &rules);
    void reportSignatures(const SignatureScan &result);
    void endScan();

    qint32 detectionCount = 0;
    QList<IBrowserHistoryParser *> parsers;
    QThread *worker = nullptr;
    std::atomic<bool> stopping{false}; // set when the page goes while a step runs
    Ui::SusProgrammsWidget *ui = nullptr;
};
