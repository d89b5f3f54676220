#pragma once

#include "accounts/AccountsWidget.h"
#include "app/InfoWidget.h"
#include "app/VerticalTabWidget.h"
#include "app/WholeCheck.h"
#include "drivers/DriversWidget.h"
#include "report/CheckRecord.h"
#include "report/ReportWidget.h"
#include "scan/SusProgrammsWidget.h"
#include "tools/AuxProgrammsWidget.h"
#include "tools/FixWidget.h"
#include "traces/TracesWidget.h"

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

// -1 when version a is older than b, 1 when newer, 0 when equal; dotted parts compare as numbers,
// missing parts count as 0 and so does a part that is not a number.
int compareVersions(const QString &a, const QString &b);

// The window the examiner works in: the eight pages in a column of tabs, the whole check that runs
// four of them in turn, and the notice of a newer version announced by the content server.
class MainWindow : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(MainWindow)

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private:
    void showUpdateNotice();
    QVector<WholeCheck::Step> wholeCheckSteps();
    // The pages that hold what the report's events of each type found.
    QHash<QString, QWidget *> pagesByReportType();
    // Counts what the whole check found, records it, sends the report and shows the result.
    void finishWholeCheck(int cancelledAt);

    VerticalTabWidget tabs;
    InfoWidget infoPage;
    SusProgrammsWidget prohibitedPage;
    AuxProgrammsWidget utilitiesPage;
    AccountsWidget accountsPage;
    FixWidget repairPage;
    TracesWidget tracesPage;
    DriversWidget driversPage;
    ReportWidget reportPage;
    CheckRecord record;
    WholeCheck wholeCheck;
    int wholeCheckFirstEvent = 0; // the record's first event of the whole check under way
    Ui::MainWindow *ui = nullptr;
};
