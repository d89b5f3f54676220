#pragma once

#include "drivers/DriverTableModel.h"

#include <QWidget>

#include <atomic>

class QThread;

namespace Ui {
class DriversWidget;
}

// The drivers page: checks, off the GUI thread, whether Windows accepts unsigned drivers, which
// drivers are loaded or installed and what their files are, shows the red and orange lines above a
// filterable table of the drivers.
class DriversWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(DriversWidget)

public:
    explicit DriversWidget(QWidget *parent = nullptr);
    ~DriversWidget() override;

signals:
    // Every finished check, for the record of the check.
    void driversChecked(const DriverCheck &check);

public slots:
    void check();
    // Asks a check under way to stop after the file it reads.
    void cancel() { stopping = true; }

private:
    void display(const DriverCheck &check);

    DriverTableModel model;
    DriverFilterModel filter;
    QThread *worker = nullptr;
    std::atomic<bool> stopping{false}; // set when the page goes while a check runs
    Ui::DriversWidget *ui = nullptr;
};
