#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

// What the drivers check shares with its page and the report: the lines above the table, the rows
// and the check they make up.

// How a line above the table reads: red is a detection, orange asks the examiner to look, plain
// states a fact, and "not read" names what the check could not ask.
enum class DriverLineLevel { Red, Orange, Plain, NotRead };

struct DriverLine
{
    DriverLineLevel level = DriverLineLevel::Plain;
    QString text;

    bool operator==(const DriverLine &other) const { return level == other.level && text == other.text; }
};

// What is known of a driver file's signature.
enum class SignatureVerdict {
    Trusted,    // the system verified it (signed in the file or in a catalog)
    Unsigned,   // the system found none
    Broken,     // the signed digest is not the file's
    Untrusted,  // signed, but the system does not trust the chain
    Embedded,   // the stand-in read the signer and compared the digest; no trust was asked
    NotChecked, // nothing to read the signature of, or nothing the stand-in could read
};

// A loaded driver or a kernel-driver service.
struct DriverRow
{
    enum class State { Loaded, Service, Deleted };
    QString name;         // the file name
    QString path;         // a drive path where the system's spelling could be resolved
    QString recordedPath; // as the system or the service spells it
    QString service;      // the service's name, when a service names the file
    State state = State::Loaded;
    bool loaded = false; // also for a loaded driver whose file is gone
    SignatureVerdict signature = SignatureVerdict::NotChecked;
    QString signer;                     // the signing certificate's CN
    QString signatureReason;            // why not trusted, in the system's words
    QString sha256, sha1, authenticode; // lower-case hex; empty when the file was not read
    QString listEntry;                  // the list's name of a matching driver
    QString listCategory;               // "vulnerable" or "malicious"
    bool listedByName = false;          // matched by the file name only (the file is gone)
    QString readProblem;                // why the file could not be read
    bool red = false, orange = false;   // what the judgement made of it
};

struct DriverCheck
{
    QDateTime checked;
    QVector<DriverLine> lines;
    QVector<DriverRow> rows;

    int count(DriverLineLevel level) const;
};
Q_DECLARE_METATYPE(DriverCheck)

// The cell texts: the state ("загружен", "служба", "удалён") and the signature ("<signer>",
// "не подписан", "подпись нарушена", "недоверенная подпись", "подпись не проверена").
QString driverStateText(DriverRow::State state);
QString signatureText(const DriverRow &row);
// As the report writes them: "loaded", "service", "deleted"; "trusted", "unsigned", "broken",
// "untrusted", "embedded", "not_checked"; "red", "orange", "plain", "not_read".
QString driverStateName(DriverRow::State state);
QString signatureName(SignatureVerdict verdict);
QString lineLevelName(DriverLineLevel level);
