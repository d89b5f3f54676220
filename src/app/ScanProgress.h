#pragma once

class QProgressBar;

// A tab's progress bar over one scan. The bar starts one below its minimum of 0 and each step moves
// it by one, so that `steps` steps end at the maximum; the maximum may grow as more steps turn up.
void startScanProgress(QProgressBar *bar, int steps);

// Leaves the bar full at the end of a scan, however many steps were announced or taken (an empty scan
// has none).
void finishScanProgress(QProgressBar *bar);
