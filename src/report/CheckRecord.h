#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

struct TraceCollection;
struct DriverCheck;

// What a check ran with, from whoever makes its record (the window, from the loader).
struct CheckContext
{
    QString programVersion = QStringLiteral(VIGILOR_VERSION);
    QString serverVersion;
    QString gameFolder;
    QString steamFolder;
};

// The record of one check, filled while the examiner works: who and where, then every scan with its
// findings, every account looked up, every utility started and folder opened and every repair, in
// order with their UTC times. Plain data only: the pages' texts arrive as they are, never as markup.
class CheckRecord : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(CheckRecord)

public:
    static constexpr const char *kFormat = "vigilor-report/1";

    explicit CheckRecord(CheckContext context = CheckContext(), QObject *parent = nullptr);

    // The report of the check so far, with the examiner's note.
    QJsonObject toJson(const QString &note) const;
    // The events recorded so far, and those from the `first`.
    int eventCount() const { return events.size(); }
    QJsonArray eventsSince(int first) const;

public slots:
    void scanStarted();
    void ruleMatched(int level, const QString &description, const QString &target);
    void suspiciousTermFound(const QString &term, const QString &browser, const QString &profile);
    void signatureMatched(int level, const QString &description, const QString &rule, const QString &target,
                          qint64 pid);
    void signatureFailed(const QString &target, qint64 pid, const QString &error);
    void windowHidden(const QString &title, const QString &image, qint64 pid, const QString &target);
    void notRead(const QString &target, const QString &reason);
    void scanFinished();
    void accountChecked(const QString &steamId, const QString &personaName, bool lookedUp, bool vac, bool community,
                        int gameBans);
    void accountsNotRead(const QString &reason);
    // The end of a whole check: its steps, the one it was cancelled at (empty: none) and its counts.
    void wholeCheckFinished(const QStringList &steps, const QString &cancelledAt, int violations, int attention,
                            int notChecked);
    void utilityStarted(const QString &program);
    void folderOpened(const QString &path);
    void repaired(const QString &action, const QStringList &folders);
    void tracesCollected(const TraceCollection &collection);
    void driversChecked(const DriverCheck &check);

signals:
    void changed();

private:
    void append(const QString &type, QJsonObject event);

    const CheckContext context;
    // Who and where: read once, since they do not change while the program runs.
    const QString machine;
    const QString user;
    const QString system;
    const QDateTime started;
    QJsonArray events;
    QString scanTime;        // when the scan under way started; empty when none is
    QJsonArray scanFindings; // its findings so far
};

// The report as a self-contained HTML page: every text escaped, no scripts, nothing fetched. A
// summary leaves out the traces' unmatched rows (counted instead) and lists at most 100 matched ones,
// so that it stays quick to show with tens of thousands of rows recorded.
enum class ReportDetail { Full, Summary };
QString renderReportHtml(const QJsonObject &report, ReportDetail detail = ReportDetail::Full);

// "vigilor-report-<machine>-<UTC date and time>.html", with anything but letters, digits, '-' and '_'
// in the machine's name replaced.
QString defaultReportFileName(const QString &machine, const QDateTime &time);
