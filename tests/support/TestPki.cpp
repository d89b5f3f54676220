#include "TestPki.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>

namespace {
bool openssl(const QString &workDir, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
} // namespace

TestPki::TestPki()
{
    const QString path = dir.path();
    QFile extensions(dir.filePath(QStringLiteral("server.ext")));
    if (!extensions.open(QIODevice::WriteOnly))
        return;
    extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                     "basicConstraints=CA:FALSE\n"
                     "extendedKeyUsage=serverAuth\n");
    extensions.close();
    const QStringList ecKey = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                               QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    valid = openssl(path, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey +
                              QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                                          QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                                          QStringLiteral("-subj"), QStringLiteral("/CN=Vigilor Test CA")}) &&
            openssl(path, QStringList{QStringLiteral("req")} + ecKey +
                              QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                                          QStringLiteral("-out"), QStringLiteral("server.csr"), QStringLiteral("-subj"),
                                          QStringLiteral("/CN=127.0.0.1")}) &&
            openssl(path, {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                           QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
                           QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                           QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"),
                           QStringLiteral("server.ext"), QStringLiteral("-out"), QStringLiteral("server.pem")});
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
