#pragma once

#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

// A throwaway CA and a server certificate for 127.0.0.1 and localhost, made with OpenSSL in a
// temporary folder for the life of one test process. Nothing of it is ever committed.
class TestPki
{
public:
    TestPki();

    bool isValid() const { return valid; }
    QString caPath() const { return dir.filePath(QStringLiteral("ca.pem")); }
    QString certPath() const { return dir.filePath(QStringLiteral("server.pem")); }
    QString keyPath() const { return dir.filePath(QStringLiteral("server.key")); }
    QSslCertificate ca() const;

    // Makes this CA the only one the test process trusts.
    void trustInThisProcess() const;

private:
    QTemporaryDir dir;
    bool valid = false;
};
