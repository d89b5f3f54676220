#pragma once

#include <QString>
#include <QVector>

// Another process's memory, read without stopping or changing it.
namespace platform {

struct MemoryRegion
{
    quint64 base = 0;
    quint64 size = 0;
    quint64 resident = 0; // bytes of it held in memory now (all of it when the system does not say)
    bool image = false;   // mapped from a file: the program and its libraries
    bool executable = false;
};

class ProcessMemory
{
public:
    explicit ProcessMemory(qint64 pid);
    ~ProcessMemory();
    ProcessMemory(const ProcessMemory &) = delete;
    ProcessMemory &operator=(const ProcessMemory &) = delete;

    // False, with the reason in errorString, when the process may not be read.
    bool isOpen() const { return open; }
    QString errorString() const { return error; }

    // The readable committed regions that hold pages, in the order of their addresses. A region the
    // system reserved but never filled holds none and is left out.
    QVector<MemoryRegion> regions() const;

    // Copies `size` bytes from `base` into `buffer`; false when they cannot be read.
    bool read(quint64 base, char *buffer, quint64 size) const;

private:
    bool open = false;
    QString error;
    qint64 pid = 0;
    void *handle = nullptr; // the system's: a process handle, or the memory file's descriptor
};

} // namespace platform
