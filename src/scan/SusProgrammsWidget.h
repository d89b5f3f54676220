#pragma once

#include <QList>
#include <QWidget>

class IBrowserHistoryParser;
class QThread;
struct DetectionRule;
struct SignatureScan;

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
    void scanFinished();

protected slots:
    void scan();
    void extendProgressBar(int a);

private:
    void updateCountLabel();
    void report(const QString &colour, const QString &html);
    void advanceProgress();
    // Matches the league's signatures on a worker thread; the scan ends when it does.
    void startSignatureStep(const QList<DetectionRule> &rules);
    void reportSignatures(const SignatureScan &result);
    void endScan();

    qint32 detectionCount = 0;
    QList<IBrowserHistoryParser *> parsers;
    QThread *signatureWorker = nullptr;
    Ui::SusProgrammsWidget *ui = nullptr;
};
