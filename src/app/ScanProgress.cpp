#include "app/ScanProgress.h"

#include <QProgressBar>
#include <QtGlobal>

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
    return [bar, base](int done, int total) {
        QMetaObject::invokeMethod(
            bar,
            [bar, base, done, total] {
                bar->setMaximum(base + total);
                bar->setValue(base + done);
            },
            Qt::QueuedConnection);
    };
}
