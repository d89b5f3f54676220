#include "TestMain.h"

#include <QFile>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QSet>

#include <cstdio>

namespace {
// "Class::function" and "Class" entries of the skip list (a whole class when no function is named).
QSet<QString> skippedOnThisSystem()
{
    QSet<QString> skipped;
#ifdef Q_OS_WIN
    QFile list(QStringLiteral(VIGILOR_WINDOWS_SKIPPED));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
        return skipped;
    while (!list.atEnd()) {
        const QString line = QString::fromUtf8(list.readLine()).trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            skipped.insert(line.section(QRegularExpression(QStringLiteral("\\s")), 0, 0));
    }
#endif
    return skipped;
}

bool isTestFunction(const QMetaMethod &method)
{
    static const QSet<QByteArray> fixtures = {"initTestCase", "cleanupTestCase", "init", "cleanup"};
    return method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Private &&
           method.parameterCount() == 0 && !fixtures.contains(method.name()) && !method.name().endsWith("_data");
}
} // namespace

int runTestFunctions(QObject *test, int argc, char **argv)
{
    const QSet<QString> skipped = skippedOnThisSystem();
    const QString testClass = QString::fromLatin1(test->metaObject()->className());
    if (skipped.contains(testClass)) {
        std::printf("%s: skipped on this system (tests/windows-skipped.txt)\n", qPrintable(testClass));
        return 0;
    }
    if (skipped.isEmpty())
        return QTest::qExec(test, argc, argv);

    QStringList options;
    QStringList functions;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        (argument.startsWith(QLatin1Char('-')) ? options : functions).append(argument);
    }
    if (functions.isEmpty()) {
        const QMetaObject *meta = test->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            if (isTestFunction(meta->method(i)))
                functions.append(QString::fromLatin1(meta->method(i).name()));
        }
    }
    QStringList arguments{QString::fromLocal8Bit(argv[0])};
    arguments += options;
    for (const QString &function : qAsConst(functions)) {
        if (skipped.contains(testClass + QStringLiteral("::") + function))
            std::printf("SKIP   : %s::%s() listed in tests/windows-skipped.txt\n", qPrintable(testClass),
                        qPrintable(function));
        else
            arguments.append(function);
    }
    std::fflush(stdout);
    if (arguments.size() == 1 + options.size())
        return 0;
    return QTest::qExec(test, arguments);
}
