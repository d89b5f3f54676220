#include "report/ReportWidget.h"

#include "app/PlainTextBox.h"
#include "content/ContentLoader.h"
#include "content/NetworkHelper.h"
#include "report/CheckRecord.h"
#include "ui_ReportWidget.h"

#include <QDir>
#include <QFileDialog>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>

namespace {
// Writes through a temporary file renamed into place: a failure leaves no half file.
bool writeWhole(const QString &path, const QByteArray &content, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        error = QDir::toNativeSeparators(path) + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}
} // namespace

ReportWidget::ReportWidget(QWidget *parent) : QWidget(parent), ui(new Ui::ReportWidget)
{
    ui->setupUi(this);
    connect(ui->saveButton, &QPushButton::clicked, this, &ReportWidget::save);
    connect(ui->sendButton, &QPushButton::clicked, this, &ReportWidget::send);
    noteSettled.setSingleShot(true);
    noteSettled.setInterval(300);
    connect(ui->noteEdit, &QPlainTextEdit::textChanged, &noteSettled, qOverload<>(&QTimer::start));
    connect(&noteSettled, &QTimer::timeout, this, &ReportWidget::refreshSummary);
}

ReportWidget::~ReportWidget()
{
    delete ui;
}

void ReportWidget::setRecord(const CheckRecord *checkRecord)
{
    record = checkRecord;
    connect(record, &CheckRecord::changed, this, &ReportWidget::refreshSummary);
    refreshSummary();
}

void ReportWidget::refreshSummary()
{
    if (record)
        ui->summary->setHtml(renderReportHtml(record->toJson(ui->noteEdit->toPlainText()), ReportDetail::Summary));
}

QByteArray ReportWidget::reportJson() const
{
    return QJsonDocument(record->toJson(ui->noteEdit->toPlainText())).toJson(QJsonDocument::Indented);
}

bool ReportWidget::saveTo(const QString &htmlPath, QString &error) const
{
    const QJsonObject report = record->toJson(ui->noteEdit->toPlainText());
    QString jsonPath = htmlPath;
    if (jsonPath.endsWith(QLatin1String(".html"), Qt::CaseInsensitive))
        jsonPath.chop(5);
    jsonPath += QStringLiteral(".json");
    return writeWhole(jsonPath, QJsonDocument(report).toJson(QJsonDocument::Indented), error) &&
           writeWhole(htmlPath, renderReportHtml(report).toUtf8(), error);
}

void ReportWidget::save()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Сохранить отчёт"),
        QDir(folder).filePath(defaultReportFileName(QSysInfo::machineHostName(), QDateTime::currentDateTimeUtc())),
        tr("Отчёт (*.html)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!saveTo(path, error))
        showCriticalPlainText(this, tr("Ошибка"), tr("Не удалось сохранить отчёт: ") + error);
}

bool ReportWidget::sendReport(QString &id, QString &error)
{
    // One report at a time: the button stays locked until the answer.
    ui->sendButton->setEnabled(false);
    NetworkHelper network;
    const QString url = ContentLoader::instance()->serverUrl() + QStringLiteral("report");
    QJsonObject envelope;
    const bool sent = network.post(url, reportJson(), QStringLiteral("application/json")) &&
                      network.parseEnvelope(network.replyText(), envelope);
    id = envelope.value(QStringLiteral("data")).toObject().value(QStringLiteral("id")).toString();
    ui->sendButton->setEnabled(true);
    if (!sent || id.isEmpty()) {
        error = network.errorString().isEmpty() ? tr("сервер не назвал код отчёта") : network.errorString();
        return false;
    }
    ui->reportIdLabel->setText(tr("Отчёт отправлен, код: ") + id);
    return true;
}

void ReportWidget::send()
{
    // A press while a report is on its way (its answer is awaited in a nested loop) does nothing.
    if (!ui->sendButton->isEnabled())
        return;
    QString id;
    QString error;
    if (!sendReport(id, error))
        showCriticalPlainText(this, tr("Ошибка"), tr("Не удалось отправить отчёт: ") + error);
}
