#pragma once

#include "traces/TraceSource.h"

#include <memory>
#include <vector>

// How a registry source keeps its programs.
enum class RegistryLayout {
    Bam,        // REG_BINARY values named by the program, a FILETIME first
    UserAssist, // ROT13 names, 72-byte data with a run count and a FILETIME
    ValueName,  // the value names are the programs
    MuiCache,   // the value names are the programs with a suffix, several per program
};

// One registry key that holds traces, and where.
struct RegistryKeyOfTraces
{
    HKEY hive;
    const char *key;
};

// A row of the registry's sources: its name, its keys (the places Windows versions keep it), whether
// each key's own values hold it or each of its sub-keys (followed by `perSubKey`) does, and how.
struct RegistryTraceTable
{
    const char *name;
    RegistryKeyOfTraces keys[2]; // a null key ends the list
    const char *perSubKey;       // null: the key's own values; else "" or "\\Count"
    RegistryLayout layout;
    bool emptyIsSign; // a key that may be read but holds no program was emptied
};

// The traces of one row: every program its keys name, with the time where the layout keeps one.
class RegistrySource : public TraceSource
{
public:
    explicit RegistrySource(const RegistryTraceTable &table) : table(table) {}
    QString name() const override;
    TraceFindings collect(const TraceMachine &machine, TraceLimits &limits) const override;

private:
    const RegistryTraceTable &table;
};

// BAM, DAM, UserAssist, the compatibility stores and MUICache, in the table's order.
std::vector<std::unique_ptr<TraceSource>> registrySources();
