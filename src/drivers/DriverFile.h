#pragma once

#include "drivers/DriverTypes.h"

// What one read of a driver file gives: its digests and its signature.
struct DriverFileFacts
{
    bool there = false;                 // the file exists
    bool read = false;                  // and was read whole
    QString problem;                    // why it was not read
    QString sha256, sha1, authenticode; // lower-case hex
    SignatureVerdict signature = SignatureVerdict::NotChecked;
    QString signer;
    QString signatureReason;
    bool trustAsked = false; // the system judged the signature

    // Trusted by the system or, where none judges, a signer whose signed digest holds.
    bool signatureAccepted() const
    {
        return signature == SignatureVerdict::Trusted || signature == SignatureVerdict::Embedded;
    }
};

// The most of a driver file that is read: real drivers are well below it.
constexpr qint64 kLargestDriverFile = 64 * 1024 * 1024;

// Reads the regular file at `path` once (up to kLargestDriverFile), hashes it, takes its Authenticode
// digest and asks the system about its signature, or elsewhere reads the embedded one.
DriverFileFacts examineDriverFile(const QString &path);
