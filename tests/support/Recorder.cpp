// vigilor-test-recorder: a stand-in for outside programs (utilities, taskkill, the file manager, the
// unpacking tool) that runs on every system the tests run on. A copy reads "<its own path>.record",
// lines of key=value:
//   log=FILE       append one line per start to FILE: "NAME [arg]..." with name=NAME, else the
//                  arguments joined by spaces
//   behaviour=hang | crash | ask | reserve   sleep two minutes; crash; read standard input and exit 0
//                  at its end, 3 when an answer arrives; or hold NAME reversed, as UTF-16, in a block of
//                  its own beside 64 GiB of memory it never touches, and sleep two minutes
//   behaviour=hide  (Windows) show a window titled NAME kept out of screen capture, print "affinity
//                  <SetWindowDisplayAffinity's error, 0 for none> <the affinity asked back>", and keep it
//                  two minutes
// Without the file it does nothing and exits 0.

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QStringList>
#include <QThread>

#include <cstdio>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <sys/mman.h>
#endif

namespace {
// A planted reservation: a scan in address order meets the untouched block before the marker.
void holdBesideReservation(const QString &reversed)
{
    const std::size_t markSize = 1 << 20;
#ifdef Q_OS_WIN
    // Windows gives addresses bottom-up: the reservation first, so that it lies below. As much of
    // 64 GiB as the system will commit.
    for (quint64 size = quint64(64) << 30; size >= (quint64(1) << 30); size /= 2) {
        if (VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))
            break;
    }
    auto *mark = static_cast<char16_t *>(VirtualAlloc(nullptr, markSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
#else
    // Linux gives addresses top-down: the marker first, so that the reservation lies below it.
    auto *mark =
        static_cast<char16_t *>(mmap(nullptr, markSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mmap(nullptr, std::size_t(64) << 30, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
#endif
    // Written letter by letter: no copy of the marker is left on the heap.
    const int size = reversed.size();
    for (int i = 0; i < size; ++i)
        mark[i] = reversed.at(size - 1 - i).unicode();
}

#ifdef Q_OS_WIN
// A cheat's menu as Windows shows it: visible, top-level, and excluded from capture.
void showWindowHiddenFromCapture(const QString &title)
{
    HWND window = CreateWindowExW(0, L"STATIC", reinterpret_cast<const wchar_t *>(title.utf16()),
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    const DWORD excludeFromCapture = 0x11;
    const bool hidden = window && SetWindowDisplayAffinity(window, excludeFromCapture);
    const unsigned long error = hidden ? 0UL : static_cast<unsigned long>(GetLastError());
    // What the system answers when asked back: a system that accepts the call may not keep it.
    DWORD kept = 0;
    if (window)
        GetWindowDisplayAffinity(window, &kept);
    std::printf("affinity %lu %lu\n", error, static_cast<unsigned long>(kept));
    std::fflush(stdout);
    const ULONGLONG until = GetTickCount64() + 120000;
    MSG message;
    while (GetTickCount64() < until) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        Sleep(50);
    }
}
#endif
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QFile settings(QCoreApplication::applicationFilePath() + QStringLiteral(".record"));
    if (!settings.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    QString log;
    QString name;
    QString behaviour;
    for (const QString &line : QString::fromUtf8(settings.readAll()).split(QLatin1Char('\n'))) {
        const QString key = line.section(QLatin1Char('='), 0, 0);
        const QString value = line.section(QLatin1Char('='), 1);
        if (key == QLatin1String("log"))
            log = value;
        else if (key == QLatin1String("name"))
            name = value;
        else if (key == QLatin1String("behaviour"))
            behaviour = value;
    }

    if (!log.isEmpty()) {
        const QStringList arguments = QCoreApplication::arguments().mid(1);
        QString line = name;
        for (const QString &argument : arguments)
            line += name.isEmpty() ? (line.isEmpty() ? argument : QLatin1Char(' ') + argument)
                                   : QStringLiteral(" [%1]").arg(argument);
        // Starts running side by side take turns: appending is not atomic on Windows, where two
        // writers at the same end of the file would overwrite each other's line.
        QLockFile lock(log + QStringLiteral(".lock"));
        lock.lock();
        QFile file(log);
        if (file.open(QIODevice::Append))
            file.write((line + QLatin1Char('\n')).toUtf8());
    }

    if (behaviour == QLatin1String("hang")) {
        QThread::sleep(120);
    } else if (behaviour == QLatin1String("reserve")) {
        holdBesideReservation(name);
        QThread::sleep(120);
    } else if (behaviour == QLatin1String("hide")) {
#ifdef Q_OS_WIN
        showWindowHiddenFromCapture(name);
#endif
    } else if (behaviour == QLatin1String("crash")) {
        volatile int *nowhere = nullptr;
        *nowhere = 1;
    } else if (behaviour == QLatin1String("ask")) {
        char answer[16];
        return std::fgets(answer, sizeof answer, stdin) ? 3 : 0;
    }
    return 0;
}
