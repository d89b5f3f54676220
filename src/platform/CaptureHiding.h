#pragma once

#include <QString>
#include <QVector>

// Top-level windows that keep themselves out of screen capture (SetWindowDisplayAffinity): a cheat's
// menu drawn over the game that the examiner's recording never shows.
namespace platform {

// More windows than a desktop holds: the rest is not asked.
constexpr int kLargestWindowListing = 10000;
constexpr quint32 kMonitor = 0x01;
constexpr quint32 kExcludeFromCapture = 0x11;

struct HiddenWindow
{
    QString title;
    QString image; // the owning program's file path; empty when it may not be asked
    qint64 pid = 0;
    quint32 affinity = 0; // WDA_MONITOR (0x01) or WDA_EXCLUDEFROMCAPTURE (0x11)
};

struct HiddenWindows
{
    bool asked = false; // false where the system has no such call
    QString why;        // when not asked, or not asked of every window
    QVector<HiddenWindow> windows;
};

// The visible top-level windows of other processes whose display affinity hides them from capture.
HiddenWindows windowsHiddenFromCapture();

} // namespace platform
