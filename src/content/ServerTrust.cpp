#include "content/ServerTrust.h"

#include "content/ServerConfig.h"

#include <QLoggingCategory>
#include <QSslCertificate>
#include <QSslConfiguration>

Q_LOGGING_CATEGORY(lcTrust, "vigilor.content.trust", QtWarningMsg)

bool pinContentServerTrust()
{
    const QList<QSslCertificate> pinned = QSslCertificate::fromData(QByteArray(kPinnedContentServerCa), QSsl::Pem);
    if (pinned.isEmpty())
        return false;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    // Setting the list replaces the system store and stops Qt from loading system roots on demand.
    config.setCaCertificates(pinned);
    QSslConfiguration::setDefaultConfiguration(config);
    qCDebug(lcTrust) << "content server trust pinned to" << pinned.first().subjectDisplayName();
    return true;
}
