#pragma once

#include "drivers/DriverTypes.h"

// What is red and what is orange about one driver: a table of rules over the facts the check
// gathered. Gaming PCs legitimately load some listed drivers (monitoring, overclocking, lighting), so
// a listed driver is orange unless something else about it is wrong.
struct DriverEvidence
{
    enum class Kind { Driver, Installed, Journal };
    Kind kind = Kind::Driver;
    QString path, name, entry, reason, when, service;
    bool loaded = false;            // loaded now
    bool gone = false;              // its file is not there
    bool inUserFolder = false;      // in a user's or temporary folder or on a removable drive
    bool inSystemFolders = false;   // in the Windows or a Program Files folder
    bool trustAsked = false;        // the system judged the signature
    bool signatureAccepted = false; // trusted; where no system judges, a signer whose digest holds
    QString category;               // the list's: "", "vulnerable" or "malicious"
};

// The lines the rules give for `evidence`, in the table's order.
QVector<DriverLine> judgeDriver(const DriverEvidence &evidence);
