// libFuzzer target for the event logs' XML: each event parsed on its own, a broken one skipped and
// counted, never a crash or a hang.

#include "traces/EventLogReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString error;
    QString detail;
    const QString xml = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
    for (const LoggedEvent &event : parseEvents(xml, error, &detail)) {
        utf16FromHex(event.binary);
        serviceImageFile(event.data.value(QStringLiteral("ImagePath")), QStringLiteral("C:\\Windows"));
    }
    return 0;
}
