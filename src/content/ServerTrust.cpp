#include "content/ServerTrust.h"

#include "content/ServerConfig.h"

#include <QLoggingCategory>
#include <QSslCertificate>
#include <QSslConfiguration>

Q_LOGGING_CATEGORY(lcTrust, "vigilor.content.trust", QtWarningMsg)

bool pinContentServerTrust()
{
    return pinServerTrust(QByteArray(kPinnedContentServerCa));
}

bool pinServerTrust(const QByteArray &pem)
{
    if (pem.isEmpty())
        return false;
    const QList<QSslCertificate> pinned = QSslCertificate::fromData(pem, QSsl::Pem);
    if (pinned.isEmpty())
        qCWarning(lcTrust) << "the pinned CA holds no certificate: no server is trusted";
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    // Setting the list replaces the system store and stops Qt from loading system roots on demand.
    config.setCaCertificates(pinned);
    QSslConfiguration::setDefaultConfiguration(config);
    if (!pinned.isEmpty())
        qCDebug(lcTrust) << "content server trust pinned to" << pinned.first().subjectDisplayName();
    return true;
}
