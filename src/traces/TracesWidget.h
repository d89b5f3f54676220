#pragma once

#include "traces/ExecutionTraces.h"
#include "traces/TraceTableModel.h"

#include <QWidget>

#include <atomic>

class QThread;

namespace Ui {
class TracesWidget;
}

// The execution-traces page: collects what Windows' own traces say ran on the machine, off the GUI
// thread, shows the signs of wiped or disabled traces above a filterable table of the programs, and
// marks the rows the detection rules match.
class TracesWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(TracesWidget)

public:
    explicit TracesWidget(QWidget *parent = nullptr);
    ~TracesWidget() override;

signals:
    // Every finished collection, for the record of the check.
    void tracesCollected(const TraceCollection &collection);

public slots:
    void collect();
    // Asks a collection under way to stop hashing; what it read so far is shown.
    void cancel() { stopping = true; }

private:
    void display(const TraceCollection &collection);

    TraceTableModel model;
    TraceFilterModel filter;
    QThread *worker = nullptr;
    std::atomic<bool> stopping{false}; // set when the page goes while a collection runs
    Ui::TracesWidget *ui = nullptr;
};
