#include "app/WholeCheck.h"

#include <QProgressBar>
#include <QWidget>

#include <memory>
#include <utility>

WholeCheck::WholeCheck(QVector<Step> checkSteps, QObject *parent) : QObject(parent), steps(std::move(checkSteps)) {}

QStringList WholeCheck::captions() const
{
    QStringList captions;
    for (const Step &step : steps)
        captions.append(step.caption);
    return captions;
}

QString WholeCheck::stepPlace(int index) const
{
    return tr("%1 из %2: %3").arg(index + 1).arg(steps.size()).arg(steps.value(index).caption);
}

void WholeCheck::start()
{
    if (isRunning() || steps.isEmpty())
        return;
    cancelled = false;
    current = -1;
    emit started();
    startNextStep();
}

void WholeCheck::cancel()
{
    if (!isRunning() || cancelled)
        return;
    cancelled = true;
    if (steps.at(current).cancel)
        steps.at(current).cancel();
}

void WholeCheck::pageFinished(QWidget *page)
{
    if (!isRunning() || steps.at(current).page != page)
        return;
    for (const QMetaObject::Connection &connection : qAsConst(following))
        disconnect(connection);
    following.clear();
    if (cancelled) {
        const int at = current;
        current = -1;
        emit finished(at);
        return;
    }
    // Queued: a page that finishes inside its own start (a quick one) does not start the next step
    // from within it.
    QMetaObject::invokeMethod(this, &WholeCheck::startNextStep, Qt::QueuedConnection);
}

void WholeCheck::startNextStep()
{
    if (++current >= steps.size()) {
        current = -1;
        emit finished(-1);
        return;
    }
    const Step &step = steps.at(current);
    follow(step.page->findChild<QProgressBar *>(QStringLiteral("progressBar")));
    emit progressed(tr("Шаг %1").arg(stepPlace(current)), 0, 0);
    step.start();
}

void WholeCheck::follow(QProgressBar *bar)
{
    followed = bar;
    if (!bar)
        return;
    const int step = current;
    // A page may move its bar once per item, a million times a step: the window's bar is moved only
    // when the percent it shows would change.
    auto shown = std::make_shared<std::pair<int, int>>(-1, -1); // percent and total
    const auto report = [this, step, shown] {
        if (current != step || !followed)
            return;
        const int done = followed->value() - followed->minimum();
        const int total = followed->maximum() - followed->minimum();
        const int percent = total > 0 ? int(qint64(done) * 100 / total) : 0;
        if (*shown == std::make_pair(percent, total))
            return;
        *shown = {percent, total};
        emit progressed(tr("Шаг %1").arg(stepPlace(step)), done, total);
    };
    following.append(connect(bar, &QProgressBar::valueChanged, this, report));
}
