#include "platform/EventLog.h"

#include "platform/WindowsError.h"

#include <QElapsedTimer>
#include <QStringList>

#include <qt_windows.h>
// The event log's API after windows.h.
#include <winevt.h>

#include <vector>

namespace platform {

namespace {
// The event log's API, taken from System32 at run time: a system without it (or a stand-in of
// Windows that lacks a function) costs this read, not the program's start.
struct EventApi
{
    decltype(&EvtQuery) query = nullptr;
    decltype(&EvtNext) next = nullptr;
    decltype(&EvtRender) render = nullptr;
    decltype(&EvtClose) close = nullptr;

    EventApi()
    {
        HMODULE library = LoadLibraryExW(L"wevtapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!library)
            return;
        take(library, "EvtQuery", query);
        take(library, "EvtNext", next);
        take(library, "EvtRender", render);
        take(library, "EvtClose", close);
    }
    bool usable() const { return query && next && render && close; }

    // GetProcAddress gives every function one type; through void (*)() it takes the one declared.
    template <typename Function> static void take(HMODULE library, const char *name, Function &function)
    {
        function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
    }
};

void failRead(EventLogRead &read, DWORD code)
{
    read.access = code == ERROR_ACCESS_DENIED ? EventLogRead::Access::Denied : EventLogRead::Access::Failed;
    read.error = systemMessage(code);
}
} // namespace

EventLogRead readEventLog(const QString &channel, const QVector<int> &ids, int days)
{
    EventLogRead read;
    static const EventApi api;
    if (!api.usable()) {
        read.error = QStringLiteral("wevtapi.dll: no event log API");
        return read;
    }
    QStringList idTests;
    for (const int id : ids)
        idTests.append(QStringLiteral("EventID=%1").arg(id));
    const QString query = QStringLiteral("*[System[(%1) and TimeCreated[timediff(@SystemTime) <= %2]]]")
                              .arg(idTests.join(QStringLiteral(" or ")))
                              .arg(qint64(days) * 24 * 3600 * 1000);
    EVT_HANDLE results =
        api.query(nullptr, reinterpret_cast<const wchar_t *>(channel.utf16()),
                  reinterpret_cast<const wchar_t *>(query.utf16()), EvtQueryChannelPath | EvtQueryReverseDirection);
    if (!results) {
        failRead(read, GetLastError());
        return read;
    }
    read.access = EventLogRead::Access::Read;
    read.xml = QStringLiteral("<Events>");
    QElapsedTimer clock;
    clock.start();
    std::vector<wchar_t> buffer(16384);
    int taken = 0;
    for (;;) {
        if (taken >= kLargestEventRead || clock.elapsed() > kEventReadMilliseconds) {
            read.cut = true;
            break;
        }
        EVT_HANDLE events[64];
        DWORD returned = 0;
        if (!api.next(results, 64, events, 1000, 0, &returned)) {
            const DWORD code = GetLastError();
            if (code != ERROR_NO_MORE_ITEMS)
                failRead(read, code);
            break;
        }
        for (DWORD i = 0; i < returned; ++i) {
            DWORD used = 0;
            DWORD properties = 0;
            BOOL rendered = api.render(nullptr, events[i], EvtRenderEventXml, DWORD(buffer.size() * sizeof(wchar_t)),
                                       buffer.data(), &used, &properties);
            if (!rendered && GetLastError() == ERROR_INSUFFICIENT_BUFFER && used < 16 * 1024 * 1024) {
                buffer.resize(used / sizeof(wchar_t) + 1);
                rendered = api.render(nullptr, events[i], EvtRenderEventXml, DWORD(buffer.size() * sizeof(wchar_t)),
                                      buffer.data(), &used, &properties);
            }
            if (rendered)
                read.xml += QString::fromWCharArray(buffer.data());
            api.close(events[i]);
            ++taken;
        }
    }
    api.close(results);
    read.xml += QStringLiteral("</Events>");
    return read;
}

} // namespace platform
