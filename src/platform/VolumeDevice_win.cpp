#include "platform/VolumeDevice.h"

#include "platform/WindowsError.h"

#include <windows.h>
#include <winioctl.h>

namespace platform {

namespace {
class RawVolume : public VolumeDevice
{
public:
    RawVolume(HANDLE handle, qint64 length) : handle(handle), length(length) {}
    ~RawVolume() override { CloseHandle(handle); }
    RawVolume(const RawVolume &) = delete;
    RawVolume &operator=(const RawVolume &) = delete;

    qint64 size() const override { return length; }
    bool readSectors(qint64 offset, char *data, qint64 size) override
    {
        LARGE_INTEGER at;
        at.QuadPart = offset;
        if (!SetFilePointerEx(handle, at, nullptr, FILE_BEGIN))
            return false;
        while (size > 0) {
            DWORD read = 0;
            const DWORD piece = static_cast<DWORD>(std::min<qint64>(size, 1 << 20));
            if (!ReadFile(handle, data, piece, &read, nullptr) || read == 0)
                return false;
            data += read;
            size -= read;
        }
        return true;
    }

private:
    HANDLE handle;
    qint64 length;
};
} // namespace

std::unique_ptr<VolumeDevice> openVolumeDevice(const QString &volume, QString &why)
{
    // Shared for reading and writing: Windows goes on writing the volume while it is read.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(volume.utf16()), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = systemMessage(GetLastError());
        return nullptr;
    }
    GET_LENGTH_INFORMATION length = {};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr)) {
        why = systemMessage(GetLastError());
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<RawVolume>(handle, length.Length.QuadPart);
}

} // namespace platform
