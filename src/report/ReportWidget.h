#pragma once

#include <QTimer>
#include <QWidget>

class CheckRecord;

namespace Ui {
class ReportWidget;
}

// The report page: what this check has recorded so far, the examiner's note, and the report saved
// as HTML and JSON or sent to the league's content server.
class ReportWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(ReportWidget)

public:
    explicit ReportWidget(QWidget *parent = nullptr);
    ~ReportWidget() override;

    // The record shown and reported; it must outlive the page.
    void setRecord(const CheckRecord *checkRecord);

    // Writes the HTML report to `htmlPath` and the JSON beside it (same name, ".json"); each file
    // appears whole or not at all. False with the reason in `error`.
    bool saveTo(const QString &htmlPath, QString &error) const;

    // Sends the report to the content server without asking anything: true with the code the server
    // gave it in `id`, else false with the reason in `error`.
    bool sendReport(QString &id, QString &error);

public slots:
    void save();
    void send();

private slots:
    void refreshSummary();

private:
    QByteArray reportJson() const;

    const CheckRecord *record = nullptr;
    // The summary follows the note after a pause in typing, not at every key.
    QTimer noteSettled;
    Ui::ReportWidget *ui = nullptr;
};
