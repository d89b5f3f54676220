#pragma once

#include <QString>
#include <QTextStream>

class TestPki;

// The examiners' reports while one address tries to take all of one of the server's limits.
void oneAddressRows(QTextStream &out, const TestPki &pki, const QString &content);
