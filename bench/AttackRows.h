#pragma once

#include <QString>
#include <QTextStream>

class TestPki;

// The peak resident memory of the process `pid` so far, in MiB (Linux).
double peakRssMiB(qint64 pid);

// The examiners' reports while one address tries to take all of one of the server's limits.
void oneAddressRows(QTextStream &out, const TestPki &pki, const QString &content);
