#include "app/InfoWidget.h"

#include "app/Version.h"
#include "content/ContentLoader.h"
#include "report/FindingCounts.h"
#include "ui_InfoWidget.h"

namespace {
// "Нарушения: 3 — Запрещенные программы: 1, Следы запуска: 2", each part a link to its tab.
QString countLine(const QString &caption, const FindingCounts &counts, FindingCounts::Kind kind,
                  const QHash<QString, QString> &tabNames, const QColor &linkColour)
{
    QStringList parts;
    for (const FindingCounts::Part &part : counts.parts[kind])
        parts.append(QStringLiteral("<a href=\"%1\" style=\"color:%2\">%3: %4</a>")
                         .arg(part.type, linkColour.name(), tabNames.value(part.type, part.type).toHtmlEscaped())
                         .arg(part.count));
    QString line = QStringLiteral("%1: %2").arg(caption.toHtmlEscaped()).arg(counts.total[kind]);
    if (!parts.isEmpty())
        line += QStringLiteral(" — ") + parts.join(QStringLiteral(", "));
    return line;
}
} // namespace

InfoWidget::InfoWidget(QWidget *parent) : QWidget(parent), ui(new Ui::InfoWidget)
{
    ui->setupUi(this);
    QString motd = ContentLoader::instance()->motd();
    motd.replace(QStringLiteral("${version}"), QString::fromLatin1(kProgramVersion));
    ui->textBrowser->setHtml(motd);
    connect(ui->wholeCheckButton, &QPushButton::clicked, this, &InfoWidget::wholeCheckRequested);
    connect(ui->cancelButton, &QPushButton::clicked, this, &InfoWidget::cancelRequested);
    connect(ui->resultLabel, &QLabel::linkActivated, this, &InfoWidget::partActivated);
}

InfoWidget::~InfoWidget()
{
    delete ui;
}

void InfoWidget::showCheckRunning(bool running)
{
    ui->wholeCheckButton->setEnabled(!running);
    ui->cancelButton->setEnabled(running);
    if (running)
        ui->resultLabel->clear();
}

void InfoWidget::showStep(const QString &step, int done, int total)
{
    // A busy bar while the step's size is not known; the step's name is shown either way.
    ui->wholeCheckProgress->setMaximum(std::max(total, 0));
    ui->wholeCheckProgress->setValue(total > 0 ? std::clamp(done, 0, total) : 0);
    ui->wholeCheckProgress->setFormat(total > 0 ? step + QStringLiteral(" — %p%") : step);
}

void InfoWidget::showResult(const FindingCounts &counts, const QHash<QString, QString> &tabNames,
                            const QString &cancelledAt, const QString &reportCode, const QString &sendError)
{
    ui->wholeCheckProgress->setMaximum(1);
    ui->wholeCheckProgress->setValue(1);
    ui->wholeCheckProgress->setFormat(cancelledAt.isEmpty() ? tr("Проверка завершена")
                                                            : tr("Проверка отменена на шаге %1").arg(cancelledAt));
    // Never "clean": without a red finding it says so, and still names what could not be read.
    QStringList lines;
    // Links in the theme's accent, readable on the dark theme as on the light one.
    const QColor link = palette().color(QPalette::Highlight);
    lines.append(counts.total[FindingCounts::Violations] == 0
                     ? QStringLiteral("<span>%1</span>").arg(tr("Нарушений не найдено"))
                     : QStringLiteral("<span style=\"color:red\">%1</span>")
                           .arg(countLine(tr("Нарушения"), counts, FindingCounts::Violations, tabNames, link)));
    lines.append(countLine(tr("Требует внимания"), counts, FindingCounts::Attention, tabNames, link));
    lines.append(countLine(tr("Не проверено"), counts, FindingCounts::NotChecked, tabNames, link));
    if (!cancelledAt.isEmpty())
        lines.append(
            tr("Проверка отменена на шаге %1; найденное до отмены сохранено").arg(cancelledAt).toHtmlEscaped());
    lines.append(reportCode.isEmpty() ? tr("Отчёт не отправлен: %1").arg(sendError).toHtmlEscaped()
                                      : tr("Код отчёта: %1").arg(reportCode).toHtmlEscaped());
    ui->resultLabel->setText(lines.join(QStringLiteral("<br>")));
}
