#include "traces/TracesWidget.h"

#include "app/ScanProgress.h"
#include "content/ContentLoader.h"
#include "rules/DriverList.h"
#include "ui_TracesWidget.h"

#include <QHeaderView>
#include <QTextDocumentFragment>
#include <QThread>

#include <memory>

TracesWidget::TracesWidget(QWidget *parent) : QWidget(parent), ui(new Ui::TracesWidget)
{
    ui->setupUi(this);
    filter.setSourceModel(&model);
    ui->tracesTable->setModel(&filter);
    ui->tracesTable->sortByColumn(TraceTableModel::TimeColumn, Qt::DescendingOrder);
    QHeaderView *header = ui->tracesTable->horizontalHeader();
    header->setSectionResizeMode(TraceTableModel::ProgramColumn, QHeaderView::Stretch);
    header->resizeSection(TraceTableModel::TimeColumn, 150);
    header->resizeSection(TraceTableModel::SourceColumn, 100);
    header->resizeSection(TraceTableModel::StateColumn, 80);
    header->resizeSection(TraceTableModel::RuleColumn, 145);
    header->resizeSection(TraceTableModel::MediumColumn, 80);
    // A long path keeps its drive and its file name in sight.
    ui->tracesTable->setTextElideMode(Qt::ElideMiddle);
    ui->tracesTable->verticalHeader()->setDefaultSectionSize(ui->tracesTable->fontMetrics().height() + 6);
    connect(ui->filterEdit, &QLineEdit::textChanged, &filter, &RowFilterModel::setText);
    connect(ui->onlyMatchesBox, &QCheckBox::toggled, &filter, &RowFilterModel::setOnlyMatches);
    connect(ui->collectButton, &QPushButton::clicked, this, &TracesWidget::collect);
}

TracesWidget::~TracesWidget()
{
    // The collection reads only: asked to stop after the file it is hashing, then waited for.
    if (worker) {
        stopping = true;
        worker->wait();
        delete worker;
    }
    delete ui;
}

void TracesWidget::collect()
{
    if (worker)
        return;
    ui->collectButton->setEnabled(false);
    ui->progressBar->setMaximum(0);
    ui->progressBar->setValue(0);
    // Descriptions come from our content server and may hold markup; the table shows plain text.
    QList<DetectionRule> rules = ContentLoader::instance()->rules();
    for (DetectionRule &rule : rules)
        rule.desc = QTextDocumentFragment::fromHtml(rule.desc).toPlainText();
    const ContentLoader *content = ContentLoader::instance();
    const TraceMachine machine =
        TraceMachine::current(content->gameImages(), {content->gameDir(), content->steamDir()});
    const std::shared_ptr<const DriverList> drivers = content->driverList();
    auto result = std::make_shared<TraceCollection>();
    const auto progress = backgroundProgress(ui->progressBar);
    stopping = false;
    const std::atomic<bool> *stop = &stopping;
    worker = QThread::create([machine, rules, drivers, result, progress, stop] {
        *result = collectTraces(machine, rules, progress, true, stop);
        matchListedDrivers(result->rows, *drivers);
    });
    connect(worker, &QThread::finished, this, [this, result] {
        worker->deleteLater();
        worker = nullptr;
        display(*result);
        ui->collectButton->setEnabled(true);
        emit tracesCollected(*result);
    });
    worker->start(QThread::LowPriority);
}

void TracesWidget::display(const TraceCollection &collection)
{
    ui->signsList->clear();
    for (const QString &sign : collection.signs) {
        auto *item = new QListWidgetItem(sign, ui->signsList);
        item->setForeground(Qt::red);
    }
    for (const QString &notice : collection.notices) {
        auto *item = new QListWidgetItem(notice, ui->signsList);
        item->setForeground(QColor(0xff, 0xa5, 0x00));
    }
    for (const QString &source : collection.unreadable)
        new QListWidgetItem(tr("Нет прав на чтение: ") + source, ui->signsList);
    for (const QString &source : collection.notRead)
        new QListWidgetItem(tr("Не прочитано: ") + source, ui->signsList);
    model.setRows(collection.rows);
    ui->progressBar->setMaximum(1);
    ui->progressBar->setValue(1);
    ui->countLabel->setText(tr("Следов: %1, совпадений: %2").arg(collection.rows.size()).arg(collection.matchCount()));
}
