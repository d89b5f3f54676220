#include "app/ScanProgress.h"

#include <QProgressBar>
#include <QtGlobal>

#include <atomic>
#include <memory>

void startScanProgress(QProgressBar *bar, int steps)
{
    // The range is set whole: a lone setMaximum below the minimum would lower the minimum for good.
    bar->setRange(0, qMax(steps - 1, 0));
    bar->reset();
}

void finishScanProgress(QProgressBar *bar)
{
    bar->setValue(bar->maximum());
}

std::function<void(int, int)> backgroundProgress(QProgressBar *bar, int base)
{
    // A step of a hundred thousand files would post as many events, each a wake-up of the window's
    // thread that takes a core from the workers: only a move of a thousandth of the total is posted,
    // and the end.
    auto posted = std::make_shared<std::atomic<qint64>>(-1);
    return [bar, base, posted](int done, int total) {
        const qint64 thousandths = total > 0 ? qint64(done) * 1000 / total : done;
        if (done != total && posted->exchange(thousandths) == thousandths)
            return;
        QMetaObject::invokeMethod(
            bar,
            [bar, base, done, total] {
                bar->setMaximum(base + total);
                bar->setValue(base + done);
            },
            Qt::QueuedConnection);
    };
}
