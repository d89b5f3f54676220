#pragma once

#include <QList>
#include <QWidget>

class IBrowserHistoryParser;
struct DetectionRule;

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
    void scanFinished();

protected slots:
    void scan();
    void extendProgressBar(int a);

private:
    void updateCountLabel();
    void report(const QString &colour, const QString &html);
    void advanceProgress();

    qint32 detectionCount = 0;
    QList<IBrowserHistoryParser *> parsers;
    Ui::SusProgrammsWidget *ui = nullptr;
};
