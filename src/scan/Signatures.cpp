#include "scan/Signatures.h"

#include "app/Parallel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSet>

#include <yara.h>

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
};

// What the scan of one target found.
struct Outcome
{
    QVector<SignatureMatch> matches;
    enum { Scanned, Skipped, NotOpened, TimedOut } status = Scanned;
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

Outcome scanTarget(YR_RULES *rules, const Target &target)
{
    Outcome outcome;
    CallbackData data{&target, &outcome.matches};
    int result = ERROR_SUCCESS;
    if (target.path.isEmpty()) {
        result = yr_rules_scan_proc(rules, static_cast<int>(target.pid), SCAN_FLAGS_PROCESS_MEMORY, onScanMessage,
                                    &data, kSignatureTimeoutSeconds);
        if (result == ERROR_COULD_NOT_ATTACH_TO_PROCESS || result == ERROR_COULD_NOT_MAP_FILE)
            outcome.status = Outcome::NotOpened;
    } else {
        // Mapped read-only through Qt, so that any path the system can open is read, and nothing copied.
        QFile file(target.path);
        if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestScannedFile) {
            outcome.status = file.isOpen() ? Outcome::Skipped : Outcome::NotOpened;
            return outcome;
        }
        const qint64 size = file.size();
        const uchar *bytes = size > 0 ? file.map(0, size) : nullptr;
        if (size > 0 && !bytes) {
            const QByteArray content = file.readAll(); // a file that cannot be mapped is read
            result = yr_rules_scan_mem(rules, reinterpret_cast<const uint8_t *>(content.constData()),
                                       static_cast<size_t>(content.size()), 0, onScanMessage, &data,
                                       kSignatureTimeoutSeconds);
        } else {
            result = yr_rules_scan_mem(rules, bytes, static_cast<size_t>(size), 0, onScanMessage, &data,
                                       kSignatureTimeoutSeconds);
        }
    }
    if (result == ERROR_SCAN_TIMEOUT)
        outcome.status = Outcome::TimedOut;
    return outcome;
}

// Windows compares paths without regard to case.
QString pathKey(const QString &canonical)
{
    return QDir::separator() == QLatin1Char('\\') ? canonical.toLower() : canonical;
}
} // namespace

QString signatureHitText(const SignatureMatch &match)
{
    const QString target =
        match.pid < 0 ? match.target : QObject::tr("процесс %1 (PID %2)").arg(match.target).arg(match.pid);
    return target + QStringLiteral(" [") + match.rule + QLatin1Char(']');
}

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
                             const std::function<void(int, int)> &progress)
{
    QVector<Target> targets;
    QSet<QString> seen;
    for (const QString &file : files) {
        const QFileInfo info(file);
        const QString canonical = info.canonicalFilePath();
        if (canonical.isEmpty() || !info.isFile() || seen.contains(pathKey(canonical)))
            continue;
        seen.insert(pathKey(canonical));
        targets.append({canonical, -1, QString()});
    }
    for (const platform::RunningProcess &process : processes) {
        if (rules.scansMemoryOf(process.image))
            targets.append({QString(), process.pid, process.image});
    }

    QVector<Outcome> outcomes(targets.size());
    std::atomic<int> done{0};
    const int total = targets.size();
    runOnAllCores(total, [&](int i) {
        outcomes[i] = scanTarget(rules.handle(), targets.at(i));
        const int finished = ++done;
        if (progress)
            progress(finished, total);
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
    }
    return scan;
}
