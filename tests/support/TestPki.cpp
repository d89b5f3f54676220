#include "TestPki.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>

TestPki::TestPki()
{
    // The same recipe as the two README commands use.
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(VIGILOR_MAKE_PKI_SCRIPT), {dir.path()});
    valid = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 &&
            QFile::exists(certPath());
}

QSslCertificate TestPki::ca() const
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(caPath());
    return certificates.isEmpty() ? QSslCertificate() : certificates.first();
}

void TestPki::trustInThisProcess() const
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates({ca()});
    QSslConfiguration::setDefaultConfiguration(config);
}
