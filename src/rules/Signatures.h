#pragma once

#include "platform/Processes.h"
#include "rules/FileHash.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

struct YR_RULES;

// The league's YARA rules from the detection data, compiled once at start and then only read: scans
// on any thread share them.
class SignatureRules
{
public:
    ~SignatureRules();
    SignatureRules(const SignatureRules &) = delete;
    SignatureRules &operator=(const SignatureRules &) = delete;

    // Compiles `source` (with the standard modules, and the string externals other scanners define:
    // filename, filepath, extension, filetype, owner) and the process-name patterns. Null on failure,
    // with `error` as "YARA: <message> (line N)" or naming the pattern that does not compile.
    static std::shared_ptr<const SignatureRules> compile(const QString &source, const QStringList &processPatterns,
                                                         QString &error);

    // Whether the memory of a process with the image name `image` is scanned.
    bool scansMemoryOf(const QString &image) const;
    YR_RULES *handle() const { return rules; }

private:
    SignatureRules() = default;

    YR_RULES *rules = nullptr;
    QVector<QRegularExpression> processes;
};

// One rule matching one file or one process's memory.
struct SignatureMatch
{
    QString rule;        // the rule's identifier
    QString description; // its meta "desc", else its identifier
    int level = 1;       // its meta "level"
    QString target;      // the file's path, or the process's image name
    qint64 pid = -1;     // the process, for a match in memory
};

// "EXE" or "DLL" for a PE file by its header's characteristics, "ELF" for an ELF file, else empty: the
// `filetype` the rules see, from the file's first bytes.
QString executableType(const QByteArray &head);

// What a match's line and report entry say after its description: the file's path, or
// "процесс <image> (PID <n>)", then " [<rule>]". Plain text.
QString signatureHitText(const SignatureMatch &match);

// A target that was not scanned in full, by name: the examiner must tell "nothing found" from "could
// not look".
struct SignatureProblem
{
    enum Kind {
        TooLarge,      // a file over the limit, not scanned (orange)
        NotRead,       // a file that could not be opened, mapped or scanned (orange)
        TimedOut,      // a file or a memory whose scan ran out of time (red)
        MemoryNotRead, // a memory the rules select that could not be read in full (red)
    };
    Kind kind = NotRead;
    QString target;  // the file's path, or the process's image name
    qint64 pid = -1; // the process, for a memory
    QString reason;  // why, as the report records it (a time-out needs none)

    // Whether this hides what the rules look for as surely as a hit shows it.
    bool red() const { return kind == TimedOut || kind == MemoryNotRead; }
};

// The problem's line and report entry, plain text: "Не проверено (больше 1 ГиБ): <path>",
// "Не прочитано: <path> (<reason>)", "Не проверено за 10 с: <path>", or with "процесс <image> (PID <n>)"
// for a memory.
QString signatureProblemText(const SignatureProblem &problem);

// What one signature step did.
struct SignatureScan
{
    QVector<SignatureMatch> matches;    // in the order of the targets
    QVector<SignatureProblem> problems; // in the order of the targets
    int files = 0;                      // scanned
    int processes = 0;                  // memories scanned
    int skippedForSize = 0;             // files over the limit
    int notOpened = 0;                  // processes that could not be opened
    int unreadable = 0;                 // files that could not be opened or read
    int timedOut = 0;                   // targets whose scan ran out of time
};

// Files larger than this are not scanned, as they are not hashed; they are mapped, never copied.
constexpr qint64 kLargestScannedFile = kLargestHashedFile;
// YARA's own time-out for one target, in seconds.
constexpr int kSignatureTimeoutSeconds = 10;
// A process's memory is read up to this many bytes, and for this many seconds, so that its rules are
// evaluated within the time-out; what is left is named.
constexpr quint64 kMemoryBudgetBytes = quint64(4) << 30;
constexpr int kMemoryReadSeconds = 8;

// Scans each of `files` once (by canonical path) and the memory of each of `processes` that the rules
// select, on as many threads as there are cores. Reading changes nothing in a file or a process. A
// memory is read in an order a planted reservation cannot exploit: the program's images and
// executable regions first, then the rest smallest first, only what holds pages.
// `progress` hears (done, total) from the scanning threads.
// Once `stop` is set, no further target is begun and a memory's reading ends.
SignatureScan scanSignatures(const SignatureRules &rules, const QStringList &files,
                             const QVector<platform::RunningProcess> &processes,
                             const std::function<void(int, int)> &progress = {},
                             const std::atomic<bool> *stop = nullptr);
