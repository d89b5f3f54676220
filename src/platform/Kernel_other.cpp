#include "platform/Kernel.h"

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QObject>

// Away from Windows the kernel's answers are what the environment of a test or the demo sets.
namespace platform {

namespace {
KernelAnswer numberFrom(const char *variable)
{
    KernelAnswer answer;
    const QString text = qEnvironmentVariable(variable).trimmed();
    if (text.isEmpty()) {
        answer.why = QObject::tr("%1 не задана").arg(QLatin1String(variable));
        return answer;
    }
    bool ok = false;
    answer.value =
        text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toUInt(&ok, 16) : text.toUInt(&ok, 10);
    answer.known = ok;
    if (!ok)
        answer.why = QObject::tr("%1 — не число").arg(QLatin1String(variable));
    return answer;
}
} // namespace

KernelAnswer codeIntegrityOptions()
{
    return numberFrom("VIGILOR_CODE_INTEGRITY");
}

KernelAnswer kernelDebugger()
{
    KernelAnswer answer = numberFrom("VIGILOR_KERNEL_DEBUGGER");
    answer.value = answer.value != 0 ? 1 : 0;
    return answer;
}

LoadedDrivers loadedDrivers()
{
    LoadedDrivers drivers;
    const QString path = qEnvironmentVariable("VIGILOR_LOADED_DRIVERS");
    if (path.isEmpty()) {
        drivers.why = QObject::tr("VIGILOR_LOADED_DRIVERS не задана");
        return drivers;
    }
    QByteArray content;
    if (readWholeFile(path, 1024 * 1024, content, drivers.why) != ReadEnd::Whole) {
        if (drivers.why.isEmpty())
            drivers.why = QObject::tr("больше 1 МиБ");
        return drivers;
    }
    drivers.read = true;
    for (const QByteArray &line : content.split('\n')) {
        const QString driver = QString::fromUtf8(line).trimmed();
        if (driver.isEmpty())
            continue;
        if (drivers.paths.size() == kLargestDriverListing) {
            drivers.cut = true;
            break;
        }
        drivers.paths.append(driver);
    }
    return drivers;
}

} // namespace platform
