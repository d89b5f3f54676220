#pragma once

#include <functional>

class QProgressBar;

// A tab's progress bar over one scan. The bar starts one below its minimum of 0 and each step moves
// it by one, so that `steps` steps end at the maximum; the maximum may grow as more steps turn up.
void startScanProgress(QProgressBar *bar, int steps);

// Leaves the bar full at the end of a scan, however many steps were announced or taken (an empty scan
// has none).
void finishScanProgress(QProgressBar *bar);

// A progress report (done, total) that may be called from any thread and moves `bar` on its own
// thread: to `base` + done of `base` + total, whenever that is a thousandth further, and at the end.
std::function<void(int, int)> backgroundProgress(QProgressBar *bar, int base = 0);
