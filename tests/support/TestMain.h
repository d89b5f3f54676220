#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QTest>

class QObject;

// Runs the test functions of `test` asked for on the command line (all when none is named). On
// Windows, those listed in tests/windows-skipped.txt are left out and named on the output.
int runTestFunctions(QObject *test, int argc, char **argv);

// QTEST_MAIN and QTEST_GUILESS_MAIN with the Windows skip list applied.
#define VIGILOR_TEST_MAIN(TestClass)                                                                                   \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestClass test;                                                                                                \
        return runTestFunctions(&test, argc, argv);                                                                    \
    }

#define VIGILOR_GUILESS_TEST_MAIN(TestClass)                                                                           \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        QCoreApplication app(argc, argv);                                                                              \
        TestClass test;                                                                                                \
        return runTestFunctions(&test, argc, argv);                                                                    \
    }
