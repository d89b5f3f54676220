#include "rules/Signatures.h"

#include "platform/FileSystem.h"
#include "platform/Parallel.h"
#include "platform/ProcessMemory.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QtEndian>

#include <yara.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {
// libyara keeps process-wide tables; it is set up once and left for the process's end.
bool initializeYara()
{
    static std::once_flag once;
    static bool initialized = false;
    std::call_once(once, [] { initialized = yr_initialize() == ERROR_SUCCESS; });
    return initialized;
}

struct CompileErrors
{
    QString first;
};

void onCompileMessage(int level, const char *, int line, const YR_RULE *, const char *message, void *data)
{
    auto *errors = static_cast<CompileErrors *>(data);
    if (level == YARA_ERROR_LEVEL_ERROR && errors->first.isEmpty())
        errors->first = QStringLiteral("YARA: %1 (line %2)").arg(QString::fromUtf8(message)).arg(line);
}

struct Target
{
    QString path;    // a file, or empty for a process's memory
    qint64 pid = -1; // the process whose memory is scanned
    QString image;
    QString imagePath; // the process's image file, which its externals describe
};

// The variables other scanners define for each target, which public rule sets use.
const char *const kExternals[] = {"filename", "filepath", "extension", "filetype", "owner"};

// Enough of a file's start to find its PE or ELF header.
constexpr qint64 kHeaderBytes = 64 * 1024;

// The values of kExternals, in their order, for the file at `path` whose first bytes are `head`.
QVector<QByteArray> externalsOf(const QString &path, const QByteArray &head)
{
    const QFileInfo file(path);
    const QString suffix = file.suffix();
    return {file.fileName().toUtf8(), QDir::toNativeSeparators(path).toUtf8(),
            suffix.isEmpty() ? QByteArray() : (QLatin1Char('.') + suffix.toLower()).toUtf8(),
            executableType(head).toUtf8(), platform::fileOwner(path).toUtf8()};
}

// The first bytes of the file at `path`, for a process's image; empty when it cannot be read.
QByteArray headOf(const QString &path)
{
    QFile file(path);
    QString ignored;
    return !path.isEmpty() && platform::openRegularFile(file, ignored) ? file.read(kHeaderBytes) : QByteArray();
}

using Scanner = std::unique_ptr<YR_SCANNER, decltype(&yr_scanner_destroy)>;

// The externals of the next target, and its time-out.
void prepareScanner(YR_SCANNER *scanner, const QVector<QByteArray> &externals)
{
    for (int i = 0; i < externals.size(); ++i)
        yr_scanner_define_string_variable(scanner, kExternals[i], externals.at(i).constData());
    yr_scanner_set_timeout(scanner, kSignatureTimeoutSeconds);
}

// A scanner with the time-out set and `externals` when given; null when libyara has no memory for one.
Scanner scannerFor(YR_RULES *rules, const QVector<QByteArray> &externals = {})
{
    YR_SCANNER *scanner = nullptr;
    if (yr_scanner_create(rules, &scanner) != ERROR_SUCCESS)
        scanner = nullptr;
    Scanner owned(scanner, yr_scanner_destroy);
    if (scanner)
        prepareScanner(scanner, externals);
    return owned;
}

// What the scan of one target found.
struct Outcome
{
    QVector<SignatureMatch> matches;
    enum { Scanned, Skipped, NotOpened, TimedOut } status = Scanned;
    QVector<SignatureProblem> problems;
};

struct CallbackData
{
    const Target *target;
    QVector<SignatureMatch> *matches;
};

int onScanMessage(YR_SCAN_CONTEXT *, int message, void *messageData, void *userData)
{
    if (message != CALLBACK_MSG_RULE_MATCHING)
        return CALLBACK_CONTINUE;
    const auto *rule = static_cast<const YR_RULE *>(messageData);
    const auto *data = static_cast<CallbackData *>(userData);
    SignatureMatch match;
    match.rule = QString::fromUtf8(rule->identifier);
    match.description = match.rule;
    const YR_META *meta = nullptr;
    yr_rule_metas_foreach(rule, meta)
    {
        const QLatin1String name(meta->identifier);
        if (name == QLatin1String("desc") && meta->type == META_TYPE_STRING)
            match.description = QString::fromUtf8(meta->string);
        else if (name == QLatin1String("level") && meta->type == META_TYPE_INTEGER)
            match.level = static_cast<int>(meta->integer);
    }
    match.target = data->target->path.isEmpty() ? data->target->image : data->target->path;
    match.pid = data->target->path.isEmpty() ? data->target->pid : -1;
    data->matches->append(match);
    return CALLBACK_CONTINUE;
}

QString yaraError(int code)
{
    return QStringLiteral("YARA: error %1").arg(code);
}

// Hands a process's memory to YARA block by block, in the order of `regions`, until the budget or the
// reading time is spent.
class MemoryBlocks
{
public:
    static constexpr quint64 kBlock = 16 * 1024 * 1024;

    MemoryBlocks(const platform::ProcessMemory &memory, QVector<platform::MemoryRegion> regions,
                 const std::atomic<bool> *stop)
        : memory(memory), regions(std::move(regions)), deadline(kMemoryReadSeconds * 1000), stop(stop)
    {
        for (const platform::MemoryRegion &region : qAsConst(this->regions))
            total += region.size;
        iterator.context = this;
        iterator.first = [](YR_MEMORY_BLOCK_ITERATOR *it) { return static_cast<MemoryBlocks *>(it->context)->next(); };
        iterator.next = iterator.first;
        iterator.file_size = nullptr;
        iterator.last_error = ERROR_SUCCESS;
        block.context = this;
        block.fetch_data = [](YR_MEMORY_BLOCK *b) { return static_cast<MemoryBlocks *>(b->context)->fetch(); };
    }

    YR_MEMORY_BLOCK_ITERATOR iterator = {};
    quint64 total = 0;
    quint64 handed = 0;
    bool cut = false;

private:
    YR_MEMORY_BLOCK *next()
    {
        while (region < regions.size() && offset >= regions.at(region).size) {
            ++region;
            offset = 0;
        }
        if (region >= regions.size())
            return nullptr;
        if (handed >= kMemoryBudgetBytes || deadline.hasExpired() || (stop && *stop)) {
            cut = true;
            return nullptr;
        }
        const platform::MemoryRegion &current = regions.at(region);
        block.base = current.base + offset;
        block.size = static_cast<size_t>(std::min({kBlock, current.size - offset, kMemoryBudgetBytes - handed}));
        offset += block.size;
        handed += block.size;
        return &block;
    }

    const uint8_t *fetch()
    {
        buffer.resize(static_cast<int>(block.size));
        // A page freed since the regions were listed makes the block unreadable; YARA passes over it.
        if (!memory.read(block.base, buffer.data(), block.size))
            return nullptr;
        return reinterpret_cast<const uint8_t *>(buffer.constData());
    }

    const platform::ProcessMemory &memory;
    const QVector<platform::MemoryRegion> regions;
    QDeadlineTimer deadline;
    const std::atomic<bool> *stop;
    int region = 0;
    quint64 offset = 0;
    YR_MEMORY_BLOCK block = {};
    QByteArray buffer;
};

// The program's images and executable regions (where injected code runs) first, in address order;
// then the rest smallest first, so that one huge block waits for the stacks and heaps.
QVector<platform::MemoryRegion> scanOrder(QVector<platform::MemoryRegion> regions)
{
    std::stable_sort(regions.begin(), regions.end(),
                     [](const platform::MemoryRegion &a, const platform::MemoryRegion &b) {
                         const bool aFirst = a.image || a.executable;
                         const bool bFirst = b.image || b.executable;
                         if (aFirst != bFirst)
                             return aFirst;
                         return !aFirst && a.size < b.size;
                     });
    return regions;
}

QString mebibytes(quint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

void scanMemory(YR_RULES *rules, const Target &target, Outcome &outcome, const std::atomic<bool> *stop)
{
    const auto problem = [&](SignatureProblem::Kind kind, const QString &reason) {
        outcome.problems.append({kind, target.image, target.pid, reason});
    };
    const platform::ProcessMemory memory(target.pid);
    if (!memory.isOpen()) {
        outcome.status = Outcome::NotOpened;
        problem(SignatureProblem::MemoryNotRead, memory.errorString());
        return;
    }
    MemoryBlocks blocks(memory, scanOrder(memory.regions()), stop);
    // A memory's externals describe the image file it runs; its name is the process's image name.
    QVector<QByteArray> externals = externalsOf(target.imagePath, headOf(target.imagePath));
    externals[0] = target.image.toUtf8();
    const Scanner scanner = scannerFor(rules, externals);
    if (!scanner) {
        problem(SignatureProblem::MemoryNotRead, QStringLiteral("YARA: out of memory"));
        return;
    }
    CallbackData data{&target, &outcome.matches};
    yr_scanner_set_callback(scanner.get(), onScanMessage, &data);
    yr_scanner_set_flags(scanner.get(), SCAN_FLAGS_PROCESS_MEMORY);
    const int result = yr_scanner_scan_mem_blocks(scanner.get(), &blocks.iterator);
    if (result == ERROR_SCAN_TIMEOUT) {
        outcome.status = Outcome::TimedOut;
        problem(SignatureProblem::TimedOut, QString());
    } else if (result != ERROR_SUCCESS) {
        problem(SignatureProblem::MemoryNotRead, yaraError(result));
    } else if (blocks.cut) {
        problem(SignatureProblem::MemoryNotRead,
                QObject::tr("проверено %1 МиБ из %2 МиБ").arg(mebibytes(blocks.handed), mebibytes(blocks.total)));
    }
}

// What a worker thread scans files with: made once per thread, not once per file, as making a scanner
// or a mapping costs more than a small file's scan.
struct FileWorker
{
    Scanner scanner{nullptr, yr_scanner_destroy};
    QByteArray buffer; // a small file's bytes
};

// Files up to this size are read into the worker's buffer: mapping and unmapping each costs every
// core a flush of its address translations.
constexpr qint64 kLargestReadFile = 1024 * 1024;

void scanFile(FileWorker &worker, const Target &target, Outcome &outcome)
{
    const auto problem = [&](SignatureProblem::Kind kind, const QString &reason) {
        outcome.problems.append({kind, target.path, -1, reason});
    };
    // A larger file is mapped read-only, so that one of up to 1 GiB costs address space, not memory,
    // and nothing is copied.
    QFile file(target.path);
    QString reason;
    if (!platform::openRegularFile(file, reason)) {
        outcome.status = Outcome::NotOpened;
        problem(SignatureProblem::NotRead, reason);
        return;
    }
    const qint64 size = file.size();
    if (size > kLargestScannedFile) {
        outcome.status = Outcome::Skipped;
        problem(SignatureProblem::TooLarge, QObject::tr("больше 1 ГиБ"));
        return;
    }
    const uchar *bytes = nullptr;
    qint64 length = size;
    if (size > 0 && size <= kLargestReadFile) {
        worker.buffer.resize(static_cast<int>(size));
        length = file.read(worker.buffer.data(), size);
        bytes = reinterpret_cast<const uchar *>(worker.buffer.constData());
    } else if (size > 0) {
        bytes = file.map(0, size);
    }
    if (size > 0 && (!bytes || length < 0)) {
        outcome.status = Outcome::NotOpened;
        problem(SignatureProblem::NotRead, file.errorString());
        return;
    }
    const QByteArray head = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes),
                                                    static_cast<int>(std::min<qint64>(length, kHeaderBytes)));
    YR_SCANNER *scanner = worker.scanner.get();
    if (!scanner) {
        outcome.status = Outcome::NotOpened;
        problem(SignatureProblem::NotRead, QStringLiteral("YARA: out of memory"));
        return;
    }
    prepareScanner(scanner, externalsOf(target.path, head));
    CallbackData data{&target, &outcome.matches};
    yr_scanner_set_callback(scanner, onScanMessage, &data);
    const int result = yr_scanner_scan_mem(scanner, bytes, static_cast<size_t>(length));
    if (result == ERROR_SCAN_TIMEOUT) {
        outcome.status = Outcome::TimedOut;
        problem(SignatureProblem::TimedOut, QString());
    } else if (result != ERROR_SUCCESS) {
        outcome.status = Outcome::NotOpened;
        problem(SignatureProblem::NotRead, yaraError(result));
    }
}

Outcome scanTarget(YR_RULES *rules, FileWorker &worker, const Target &target, const std::atomic<bool> *stop)
{
    Outcome outcome;
    if (target.path.isEmpty())
        scanMemory(rules, target, outcome, stop);
    else
        scanFile(worker, target, outcome);
    return outcome;
}

// Windows compares paths without regard to case.
QString pathKey(const QString &canonical)
{
    return QDir::separator() == QLatin1Char('\\') ? canonical.toLower() : canonical;
}
} // namespace

SignatureRules::~SignatureRules()
{
    if (rules)
        yr_rules_destroy(rules);
}

std::shared_ptr<const SignatureRules> SignatureRules::compile(const QString &source, const QStringList &processPatterns,
                                                              QString &error)
{
    std::shared_ptr<SignatureRules> compiled(new SignatureRules);
    for (const QString &pattern : processPatterns) {
        QRegularExpression expression(pattern, QRegularExpression::CaseInsensitiveOption);
        if (!expression.isValid()) {
            error = QStringLiteral("yara_processes: %1: %2").arg(pattern, expression.errorString());
            return nullptr;
        }
        compiled->processes.append(expression);
    }
    if (!initializeYara()) {
        error = QStringLiteral("YARA: the library could not be initialized");
        return nullptr;
    }
    YR_COMPILER *compiler = nullptr;
    if (yr_compiler_create(&compiler) != ERROR_SUCCESS) {
        error = QStringLiteral("YARA: out of memory");
        return nullptr;
    }
    CompileErrors errors;
    yr_compiler_set_callback(compiler, onCompileMessage, &errors);
    for (const char *external : kExternals)
        yr_compiler_define_string_variable(compiler, external, "");
    const QByteArray text = source.toUtf8();
    const int failures = yr_compiler_add_string(compiler, text.constData(), nullptr);
    if (failures > 0 || yr_compiler_get_rules(compiler, &compiled->rules) != ERROR_SUCCESS) {
        error = errors.first.isEmpty() ? QStringLiteral("YARA: the rules do not compile") : errors.first;
        yr_compiler_destroy(compiler);
        return nullptr;
    }
    yr_compiler_destroy(compiler);
    return compiled;
}

bool SignatureRules::scansMemoryOf(const QString &image) const
{
    for (const QRegularExpression &expression : processes) {
        if (expression.match(image).hasMatch())
            return true;
    }
    return false;
}

SignatureScan scanSignatures(const SignatureRules &rules, const QStringList &files,
                             const QVector<platform::RunningProcess> &processes,
                             const std::function<void(int, int)> &progress, const std::atomic<bool> *stop)
{
    // Each name once; then their canonical paths and identities, looked up on every core.
    QStringList names = files;
    names.removeDuplicates();
    QVector<QPair<QString, QString>> resolved(names.size()); // canonical path and key; empty when no file
    runOnAllCores(names.size(), [&](int i) {
        const QFileInfo info(names.at(i));
        const QString canonical = info.canonicalFilePath();
        if (canonical.isEmpty() || !info.isFile())
            return;
        // One file, one scan, whatever names lead to it: hard links share their identity.
        const QString identity = platform::fileIdentity(canonical);
        resolved[i] = {canonical, identity.isEmpty() ? pathKey(canonical) : identity};
    });
    QVector<Target> targets;
    QSet<QString> seen;
    for (const auto &[canonical, key] : qAsConst(resolved)) {
        if (canonical.isEmpty() || seen.contains(key))
            continue;
        seen.insert(key);
        targets.append({canonical, -1, QString(), QString()});
    }
    for (const platform::RunningProcess &process : processes) {
        if (rules.scansMemoryOf(process.image))
            targets.append({QString(), process.pid, process.image, process.path});
    }

    QVector<Outcome> outcomes(targets.size());
    std::atomic<int> done{0};
    std::atomic<int> next{0};
    const int total = targets.size();
    // One worker per core, each with a scanner of its own for the files it takes.
    runOnAllCores(std::min(total, QThread::idealThreadCount()), [&](int) {
        FileWorker worker;
        worker.scanner = scannerFor(rules.handle());
        for (int i = next++; i < total; i = next++) {
            if (stop && *stop)
                return;
            outcomes[i] = scanTarget(rules.handle(), worker, targets.at(i), stop);
            const int finished = ++done;
            if (progress)
                progress(finished, total);
        }
    });

    SignatureScan scan;
    for (int i = 0; i < total; ++i) {
        const Outcome &outcome = outcomes.at(i);
        const bool memory = targets.at(i).path.isEmpty();
        switch (outcome.status) {
        case Outcome::Skipped:
            ++scan.skippedForSize;
            break;
        case Outcome::NotOpened:
            ++(memory ? scan.notOpened : scan.unreadable);
            break;
        case Outcome::TimedOut:
            ++scan.timedOut;
            [[fallthrough]];
        case Outcome::Scanned:
            ++(memory ? scan.processes : scan.files);
            break;
        }
        scan.matches += outcome.matches;
        scan.problems += outcome.problems;
    }
    return scan;
}
