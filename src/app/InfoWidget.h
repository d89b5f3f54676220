#pragma once

#include <QHash>
#include <QWidget>

struct FindingCounts;

namespace Ui {
class InfoWidget;
}

// The information page: the server's message of the day with the program's version filled in, and the
// whole check's button, progress and result.
class InfoWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(InfoWidget)

public:
    explicit InfoWidget(QWidget *parent = nullptr);
    ~InfoWidget() override;

    // The whole check started or ended: its button and cancel follow.
    void showCheckRunning(bool running);
    // "Шаг 2 из 4: следы запуска" and the step's own progress (`total` 0: not known).
    void showStep(const QString &step, int done, int total);
    // The result: the three counts, each part linked to the tab that holds it (`tabNames`: the
    // report's event type → the tab's caption), the step a cancel stopped at ("2 из 4: следы запуска"), and the
    // report's code or why it was not sent.
    void showResult(const FindingCounts &counts, const QHash<QString, QString> &tabNames, const QString &cancelledAt,
                    const QString &reportCode, const QString &sendError);

signals:
    void wholeCheckRequested();
    void cancelRequested();
    // A part of the result was clicked: the report's event type of the tab to open.
    void partActivated(const QString &type);

private:
    Ui::InfoWidget *ui = nullptr;
};
