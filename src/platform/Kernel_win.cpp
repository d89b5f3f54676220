#include "platform/Kernel.h"

#include "platform/WindowsError.h"

#include <QObject>

#include <windows.h>

#include <psapi.h>

#include <vector>

namespace platform {

namespace {
// The classes of NtQuerySystemInformation this asks, and their answers' layouts.
constexpr ULONG kKernelDebuggerInformation = 35;
constexpr ULONG kCodeIntegrityInformation = 103;
struct CodeIntegrityInformation
{
    ULONG length;
    ULONG options;
};
struct KernelDebuggerInformation
{
    BOOLEAN enabled;
    BOOLEAN notPresent;
};

using QuerySystemInformation = LONG(WINAPI *)(ULONG, PVOID, ULONG, PULONG);

// The status in the examiner's words: the few a query of one's own state can give, else the number.
QString statusText(LONG status)
{
    switch (static_cast<ULONG>(status)) {
    case 0xC0000003UL: // STATUS_INVALID_INFO_CLASS
    case 0xC0000002UL: // STATUS_NOT_IMPLEMENTED
        return QObject::tr("эта версия Windows не знает такого запроса");
    case 0xC0000022UL: // STATUS_ACCESS_DENIED
        return QObject::tr("нет прав");
    case 0xC0000004UL: // STATUS_INFO_LENGTH_MISMATCH
        return QObject::tr("ответ другого размера");
    }
    return QStringLiteral("NTSTATUS 0x%1").arg(static_cast<ULONG>(status), 8, 16, QLatin1Char('0'));
}

// Asks ntdll at run time: the function is not in the import libraries of every toolchain.
template <typename Answer> bool querySystem(ULONG informationClass, Answer &answer, QString &why)
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto query = ntdll ? reinterpret_cast<QuerySystemInformation>(
                                   reinterpret_cast<void *>(GetProcAddress(ntdll, "NtQuerySystemInformation")))
                             : nullptr;
    if (!query) {
        why = QObject::tr("NtQuerySystemInformation недоступна");
        return false;
    }
    ULONG returned = 0;
    const LONG status = query(informationClass, &answer, sizeof answer, &returned);
    if (status < 0) {
        why = statusText(status);
        return false;
    }
    return true;
}
} // namespace

KernelAnswer codeIntegrityOptions()
{
    KernelAnswer answer;
    CodeIntegrityInformation information{sizeof(CodeIntegrityInformation), 0};
    answer.known = querySystem(kCodeIntegrityInformation, information, answer.why);
    answer.value = information.options;
    return answer;
}

KernelAnswer kernelDebugger()
{
    KernelAnswer answer;
    KernelDebuggerInformation information{FALSE, TRUE};
    answer.known = querySystem(kKernelDebuggerInformation, information, answer.why);
    answer.value = information.enabled && !information.notPresent ? 1 : 0;
    return answer;
}

LoadedDrivers loadedDrivers()
{
    LoadedDrivers drivers;
    std::vector<LPVOID> bases(1024);
    DWORD needed = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD size = static_cast<DWORD>(bases.size() * sizeof(LPVOID));
        if (!EnumDeviceDrivers(bases.data(), size, &needed)) {
            drivers.why = systemMessage(GetLastError());
            return drivers;
        }
        if (needed <= size)
            break;
        bases.resize(std::min<std::size_t>(needed / sizeof(LPVOID) + 64, kLargestDriverListing));
    }
    std::size_t count = std::min<std::size_t>(needed / sizeof(LPVOID), bases.size());
    drivers.cut = needed / sizeof(LPVOID) > bases.size();
    drivers.read = true;
    int unnamed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        wchar_t name[1024];
        const DWORD length = GetDeviceDriverFileNameW(bases[i], name, 1024);
        if (length == 0) {
            ++unnamed;
            continue;
        }
        drivers.paths.append(QString::fromWCharArray(name, static_cast<int>(length)));
    }
    if (unnamed > 0)
        drivers.why = QObject::tr("у %1 драйверов не удалось узнать файл").arg(unnamed);
    return drivers;
}

} // namespace platform
