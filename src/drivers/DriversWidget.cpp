#include "drivers/DriversWidget.h"

#include "app/ScanProgress.h"
#include "content/ContentLoader.h"
#include "drivers/DriverCollector.h"
#include "ui_DriversWidget.h"

#include <QHeaderView>
#include <QThread>

#include <memory>

DriversWidget::DriversWidget(QWidget *parent) : QWidget(parent), ui(new Ui::DriversWidget)
{
    ui->setupUi(this);
    filter.setSourceModel(&model);
    ui->driversTable->setModel(&filter);
    QHeaderView *header = ui->driversTable->horizontalHeader();
    header->setSectionResizeMode(DriverTableModel::PathColumn, QHeaderView::Stretch);
    header->resizeSection(DriverTableModel::NameColumn, 120);
    header->resizeSection(DriverTableModel::SignatureColumn, 170);
    header->resizeSection(DriverTableModel::Sha256Column, 100);
    header->resizeSection(DriverTableModel::ListColumn, 110);
    header->resizeSection(DriverTableModel::StateColumn, 80);
    ui->driversTable->setTextElideMode(Qt::ElideMiddle);
    // The order found (loaded drivers, then services) until the examiner sorts by a column.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    filter.sort(-1);
    ui->driversTable->verticalHeader()->setDefaultSectionSize(ui->driversTable->fontMetrics().height() + 6);
    connect(ui->filterEdit, &QLineEdit::textChanged, &filter, &RowFilterModel::setText);
    connect(ui->onlyMatchesBox, &QCheckBox::toggled, &filter, &RowFilterModel::setOnlyMatches);
    connect(ui->collectButton, &QPushButton::clicked, this, &DriversWidget::check);
}

DriversWidget::~DriversWidget()
{
    // The check reads only: asked to stop after the file it is reading, then waited for.
    if (worker) {
        stopping = true;
        worker->wait();
        delete worker;
    }
    delete ui;
}

void DriversWidget::check()
{
    if (worker)
        return;
    ui->collectButton->setEnabled(false);
    ui->progressBar->setMaximum(0);
    ui->progressBar->setValue(0);
    const ContentLoader *content = ContentLoader::instance();
    const std::shared_ptr<const DriverList> list = content->driverList();
    const QString listProblem = content->driverListError();
    auto result = std::make_shared<DriverCheck>();
    const auto progress = backgroundProgress(ui->progressBar);
    stopping = false;
    const std::atomic<bool> *stop = &stopping;
    worker = QThread::create([list, listProblem, result, progress, stop] {
        *result = checkDrivers(DriverMachine::current(), *list, listProblem, progress, stop);
    });
    connect(worker, &QThread::finished, this, [this, result] {
        worker->deleteLater();
        worker = nullptr;
        display(*result);
        ui->collectButton->setEnabled(true);
        emit driversChecked(*result);
    });
    worker->start(QThread::LowPriority);
}

void DriversWidget::display(const DriverCheck &check)
{
    ui->linesList->clear();
    for (const DriverLine &line : check.lines) {
        auto *item = new QListWidgetItem(line.text, ui->linesList);
        if (line.level == DriverLineLevel::Red)
            item->setForeground(Qt::red);
        else if (line.level == DriverLineLevel::Orange)
            item->setForeground(QColor(0xff, 0xa5, 0x00));
    }
    model.setRows(check.rows);
    ui->progressBar->setMaximum(1);
    ui->progressBar->setValue(1);
    ui->countLabel->setText(
        tr("Драйверов: %1, всего обнаружений: %2").arg(check.rows.size()).arg(check.count(DriverLineLevel::Red)));
}
