#include "rules/Signatures.h"

#include <QObject>
#include <QtEndian>

// What the signature step's findings and problems say, and what a file's first bytes make it.
namespace {
QString targetText(const QString &target, qint64 pid)
{
    return pid < 0 ? target : QObject::tr("процесс %1 (PID %2)").arg(target).arg(pid);
}
} // namespace

QString executableType(const QByteArray &head)
{
    if (head.startsWith("\x7F"
                        "ELF"))
        return QStringLiteral("ELF");
    if (!head.startsWith("MZ") || head.size() < 0x40)
        return QString();
    const quint32 header = qFromLittleEndian<quint32>(head.constData() + 0x3C);
    if (head.size() < 24 || header > quint32(head.size() - 24) ||
        head.mid(static_cast<int>(header), 4) != QByteArray("PE\0\0", 4))
        return QString();
    const quint16 characteristics = qFromLittleEndian<quint16>(head.constData() + header + 22);
    return (characteristics & 0x2000) != 0 ? QStringLiteral("DLL") : QStringLiteral("EXE");
}

QString signatureHitText(const SignatureMatch &match)
{
    return targetText(match.target, match.pid) + QStringLiteral(" [") + match.rule + QLatin1Char(']');
}

QString signatureProblemText(const SignatureProblem &problem)
{
    const QString target = targetText(problem.target, problem.pid);
    switch (problem.kind) {
    case SignatureProblem::TooLarge:
        return QObject::tr("Не проверено (больше 1 ГиБ): %1").arg(target);
    case SignatureProblem::TimedOut:
        return QObject::tr("Не проверено за %1 с: %2").arg(kSignatureTimeoutSeconds).arg(target);
    case SignatureProblem::NotRead:
    case SignatureProblem::MemoryNotRead:
        break;
    }
    return QObject::tr("Не прочитано: %1 (%2)").arg(target, problem.reason);
}
