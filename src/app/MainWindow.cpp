#include "app/MainWindow.h"

#include "app/Version.h"
#include "content/ContentLoader.h"
#include "report/FindingCounts.h"
#include "ui_MainWindow.h"

#include <QMessageBox>

int compareVersions(const QString &a, const QString &b)
{
    QStringList partsA = a.split(QLatin1Char('.'));
    QStringList partsB = b.split(QLatin1Char('.'));
    while (partsB.size() < partsA.size())
        partsB.append(QStringLiteral("0"));
    while (partsA.size() < partsB.size())
        partsA.append(QStringLiteral("0"));
    for (int i = 0; i < partsA.size(); ++i) {
        // A part that is not a number reads as 0.
        const int numberA = partsA.at(i).toInt(nullptr, 10);
        const int numberB = partsB.at(i).toInt(nullptr, 10);
        if (numberA < numberB)
            return -1;
        if (numberA > numberB)
            return 1;
    }
    return 0;
}

namespace {
// What the check runs with, as the loader found it before the window opened.
CheckContext checkContext()
{
    const ContentLoader *loader = ContentLoader::instance();
    return {QString::fromLatin1(kProgramVersion), loader->version(), loader->gameDir(), loader->steamDir()};
}
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), record(checkContext()), wholeCheck(wholeCheckSteps()), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    tabs.addTab(&infoPage, tr("Информация"));
    tabs.addTab(&prohibitedPage, tr("Запрещенные программы"));
    tabs.addTab(&utilitiesPage, tr("Утилиты"));
    tabs.addTab(&accountsPage, tr("Аккаунты"));
    tabs.addTab(&repairPage, tr("Исправление ошибок"));
    tabs.addTab(&tracesPage, tr("Следы запуска"));
    tabs.addTab(&driversPage, tr("Драйверы"));
    tabs.addTab(&reportPage, tr("Отчёт"));
    // The pages announce what they did; only the window knows the record.
    connect(&prohibitedPage, &SusProgrammsWidget::scanStarted, &record, &CheckRecord::scanStarted);
    connect(&prohibitedPage, &SusProgrammsWidget::ruleMatched, &record, &CheckRecord::ruleMatched);
    connect(&prohibitedPage, &SusProgrammsWidget::suspiciousTermFound, &record, &CheckRecord::suspiciousTermFound);
    connect(&prohibitedPage, &SusProgrammsWidget::signatureMatched, &record, &CheckRecord::signatureMatched);
    connect(&prohibitedPage, &SusProgrammsWidget::signatureFailed, &record, &CheckRecord::signatureFailed);
    connect(&prohibitedPage, &SusProgrammsWidget::windowHidden, &record, &CheckRecord::windowHidden);
    connect(&prohibitedPage, &SusProgrammsWidget::notRead, &record, &CheckRecord::notRead);
    connect(&prohibitedPage, &SusProgrammsWidget::scanFinished, &record, &CheckRecord::scanFinished);
    connect(&accountsPage, &AccountsWidget::accountChecked, &record, &CheckRecord::accountChecked);
    connect(&utilitiesPage, &AuxProgrammsWidget::utilityStarted, &record, &CheckRecord::utilityStarted);
    connect(&utilitiesPage, &AuxProgrammsWidget::folderOpened, &record, &CheckRecord::folderOpened);
    connect(&repairPage, &FixWidget::repaired, &record, &CheckRecord::repaired);
    connect(&tracesPage, &TracesWidget::tracesCollected, &record, &CheckRecord::tracesCollected);
    connect(&driversPage, &DriversWidget::driversChecked, &record, &CheckRecord::driversChecked);
    connect(&accountsPage, &AccountsWidget::accountsNotRead, &record, &CheckRecord::accountsNotRead);
    reportPage.setRecord(&record);

    // The whole check follows each page to its end, then counts, records and sends.
    connect(&prohibitedPage, &SusProgrammsWidget::scanFinished, this,
            [this] { wholeCheck.pageFinished(&prohibitedPage); });
    connect(&tracesPage, &TracesWidget::tracesCollected, this, [this] { wholeCheck.pageFinished(&tracesPage); });
    connect(&driversPage, &DriversWidget::driversChecked, this, [this] { wholeCheck.pageFinished(&driversPage); });
    connect(&accountsPage, &AccountsWidget::accountsChecked, this, [this] { wholeCheck.pageFinished(&accountsPage); });
    connect(&infoPage, &InfoWidget::wholeCheckRequested, &wholeCheck, &WholeCheck::start);
    connect(&infoPage, &InfoWidget::cancelRequested, &wholeCheck, &WholeCheck::cancel);
    connect(&wholeCheck, &WholeCheck::started, this, [this] {
        wholeCheckFirstEvent = record.eventCount();
        infoPage.showCheckRunning(true);
    });
    connect(&wholeCheck, &WholeCheck::progressed, &infoPage, &InfoWidget::showStep);
    connect(&wholeCheck, &WholeCheck::finished, this, &MainWindow::finishWholeCheck);
    connect(&infoPage, &InfoWidget::partActivated, this, [this](const QString &type) {
        if (QWidget *page = pagesByReportType().value(type))
            tabs.setCurrentWidget(page);
    });
    ui->gridLayout->addWidget(&tabs);
    showUpdateNotice();
}

MainWindow::~MainWindow()
{
    delete ui;
}

QHash<QString, QWidget *> MainWindow::pagesByReportType()
{
    return {{QStringLiteral("scan"), &prohibitedPage},
            {QStringLiteral("traces"), &tracesPage},
            {QStringLiteral("drivers"), &driversPage},
            {QStringLiteral("account"), &accountsPage}};
}

QVector<WholeCheck::Step> MainWindow::wholeCheckSteps()
{
    return {{tr("запрещённые программы"), &prohibitedPage, [this] { prohibitedPage.scan(); },
             [this] { prohibitedPage.cancel(); }},
            {tr("следы запуска"), &tracesPage, [this] { tracesPage.collect(); }, [this] { tracesPage.cancel(); }},
            {tr("драйверы"), &driversPage, [this] { driversPage.check(); }, [this] { driversPage.cancel(); }},
            {tr("аккаунты"), &accountsPage, [this] { accountsPage.checkAccounts(false); },
             [this] { accountsPage.cancel(); }}};
}

void MainWindow::finishWholeCheck(int cancelledAt)
{
    const QString cancelled = cancelledAt < 0 ? QString() : wholeCheck.stepPlace(cancelledAt);
    const FindingCounts counts = countFindings(record.eventsSince(wholeCheckFirstEvent));
    record.wholeCheckFinished(wholeCheck.captions(), cancelled, counts.total[FindingCounts::Violations],
                              counts.total[FindingCounts::Attention], counts.total[FindingCounts::NotChecked]);
    QString code;
    QString error;
    reportPage.sendReport(code, error);
    QHash<QString, QString> tabNames;
    const QHash<QString, QWidget *> pages = pagesByReportType();
    for (auto page = pages.cbegin(); page != pages.cend(); ++page)
        tabNames.insert(page.key(), tabs.tabText(tabs.indexOf(page.value())));
    infoPage.showResult(counts, tabNames, cancelled, code, error);
    infoPage.showCheckRunning(false);
}

void MainWindow::showUpdateNotice()
{
    const QString serverVersion = ContentLoader::instance()->version();
    const QString ownVersion = QString::fromLatin1(kProgramVersion);
    if (compareVersions(ownVersion, serverVersion) >= 0)
        return;
    QMessageBox::information(this, tr("Обновление"),
                             tr("Найдена новая версия: ") + serverVersion + tr(" (используется ") + ownVersion +
                                 QStringLiteral(")"));
}
