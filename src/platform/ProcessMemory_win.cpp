#include "platform/ProcessMemory.h"

#include <qt_windows.h>
// After the system's own header, which it needs; version 2 takes the working set from kernel32
// rather than from psapi.dll.
#define PSAPI_VERSION 2
#include <psapi.h>

#include <algorithm>
#include <vector>

// Windows: the committed regions from VirtualQueryEx, what of them is in the working set from
// QueryWorkingSet, the bytes from ReadProcessMemory.
namespace platform {
namespace {
// Pages of a working set asked for at most: 32 MiB of entries, 16 GiB of memory. A larger set is
// taken as wholly resident.
constexpr std::size_t kLargestWorkingSet = 4 * 1024 * 1024;
constexpr quint64 kPage = 4096;

// The page numbers in the working set, sorted; empty when the system does not say.
std::vector<quint64> workingSetPages(HANDLE process)
{
    std::vector<ULONG_PTR> buffer(64 * 1024);
    for (;;) {
        if (QueryWorkingSet(process, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)))) {
            const auto *set = reinterpret_cast<const PSAPI_WORKING_SET_INFORMATION *>(buffer.data());
            std::vector<quint64> pages;
            pages.reserve(set->NumberOfEntries);
            for (ULONG_PTR i = 0; i < set->NumberOfEntries; ++i)
                pages.push_back(set->WorkingSetInfo[i].VirtualPage);
            std::sort(pages.begin(), pages.end());
            return pages;
        }
        const auto *set = reinterpret_cast<const PSAPI_WORKING_SET_INFORMATION *>(buffer.data());
        const std::size_t wanted = set->NumberOfEntries + set->NumberOfEntries / 8 + 1024;
        if (GetLastError() != ERROR_BAD_LENGTH || wanted > kLargestWorkingSet)
            return {};
        buffer.assign(wanted, 0);
    }
}
} // namespace

ProcessMemory::ProcessMemory(qint64 pid) : pid(pid)
{
    handle = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, static_cast<DWORD>(pid));
    if (!handle) {
        error = QStringLiteral("OpenProcess: error %1").arg(GetLastError());
        return;
    }
    open = true;
}

ProcessMemory::~ProcessMemory()
{
    if (handle)
        CloseHandle(handle);
}

QVector<MemoryRegion> ProcessMemory::regions() const
{
    QVector<MemoryRegion> regions;
    if (!open)
        return regions;
    const std::vector<quint64> pages = workingSetPages(handle);
    MEMORY_BASIC_INFORMATION information = {};
    quint64 address = 0;
    while (VirtualQueryEx(handle, reinterpret_cast<LPCVOID>(address), &information, sizeof information) ==
           sizeof information) {
        const quint64 base = reinterpret_cast<quint64>(information.BaseAddress);
        const quint64 size = information.RegionSize;
        const DWORD protect = information.Protect;
        if (information.State == MEM_COMMIT && !(protect & (PAGE_NOACCESS | PAGE_GUARD)) && protect != 0) {
            MemoryRegion region;
            region.base = base;
            region.size = size;
            region.image = information.Type == MEM_IMAGE;
            region.executable =
                (protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
            region.resident = size;
            if (!pages.empty()) {
                const auto first = std::lower_bound(pages.begin(), pages.end(), base / kPage);
                const auto last = std::lower_bound(first, pages.end(), (base + size + kPage - 1) / kPage);
                region.resident = static_cast<quint64>(last - first) * kPage;
            }
            if (region.resident > 0)
                regions.append(region);
        }
        if (base + size <= address)
            break;
        address = base + size;
    }
    return regions;
}

bool ProcessMemory::read(quint64 base, char *buffer, quint64 size) const
{
    SIZE_T got = 0;
    return open && ReadProcessMemory(handle, reinterpret_cast<LPCVOID>(base), buffer, size, &got) && got == size;
}

} // namespace platform
