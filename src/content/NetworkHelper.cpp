#include "content/NetworkHelper.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>

Q_LOGGING_CATEGORY(lcNetwork, "vigilor.content.network", QtWarningMsg)

namespace {
// No byte for this long fails a request; a slow transfer that keeps moving goes on.
constexpr int kTransferTimeoutMs = 30000;

// The body as text, cut at its first zero byte like a C string.
QString decodeBody(const QByteArray &body)
{
    return QString::fromUtf8(body.constData(), static_cast<int>(qstrnlen(body.constData(), body.size())));
}
} // namespace

NetworkHelper::NetworkHelper(QObject *parent) : QObject(parent), manager(new QNetworkAccessManager)
{
    // The pinned server is the only source: a redirect elsewhere is an answer like any other non-200.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(kTransferTimeoutMs);
    connect(manager, &QNetworkAccessManager::finished, this, &NetworkHelper::onRequestCompleted);
}

NetworkHelper::~NetworkHelper()
{
    delete manager;
}

void NetworkHelper::waitForReply(const QString &url)
{
    waiting = true;
    request.setUrl(QUrl(url, QUrl::TolerantMode));
    manager->get(request);
    waitForCompletion();
}

void NetworkHelper::waitForCompletion()
{
    // Sleep until something happens instead of polling: the slot below ends the wait, and every
    // other event (painting, input, timers) is still handled in the meantime.
    while (waiting)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool NetworkHelper::get(const QString &url)
{
    waitForReply(url);
    return errorText.isEmpty();
}

bool NetworkHelper::post(const QString &url, const QByteArray &body, const QString &contentType)
{
    waiting = true;
    QNetworkRequest posting(request);
    posting.setUrl(QUrl(url, QUrl::TolerantMode));
    posting.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    manager->post(posting, body);
    waitForCompletion();
    return errorText.isEmpty();
}

bool NetworkHelper::download(const QString &url, const QString &filePath)
{
    waitForReply(url);
    if (!errorText.isEmpty())
        return false;

    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        errorText = QStringLiteral("Failed to write file");
        return false;
    }
    // A short write or a failing flush (a full disk) must not pass as a complete file.
    bool written = file.write(replyData) == replyData.size() && file.flush();
    file.close();
    written = written && file.error() == QFileDevice::NoError;
    if (!written) {
        qCWarning(lcNetwork) << "writing" << filePath << "failed:" << file.errorString();
        errorText = QStringLiteral("Failed to write file");
        return false;
    }
    return true;
}

bool NetworkHelper::parseEnvelope(const QString &text, QJsonObject &out)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        errorText = QStringLiteral("JSON parse error: ") + parseError.errorString();
        return false;
    }
    // The caller gets the object even when the envelope reports failure.
    out = document.object();
    const QJsonValue ok = out.value(QStringLiteral("ok"));
    if (ok.isBool() && ok.toBool())
        return true;
    if (out.contains(QStringLiteral("message")))
        errorText = QStringLiteral("Request failed: ") + out.value(QStringLiteral("message")).toString();
    else
        errorText = QStringLiteral("Request failed: no further information");
    return false;
}

QString NetworkHelper::replyText() const
{
    return decodeBody(replyData);
}

QString NetworkHelper::errorString() const
{
    return errorText;
}

void NetworkHelper::reset()
{
    errorText.clear();
    replyData.clear();
    waiting = false;
}

void NetworkHelper::onRequestCompleted(QNetworkReply *reply)
{
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString failure;
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        // Nothing here aborts a reply but the transfer time-out.
        failure = QStringLiteral("No data from the server for %1 s").arg(kTransferTimeoutMs / 1000);
    } else if (reply->error() != QNetworkReply::NoError) {
        failure = reply->errorString();
    } else if (status != 200) {
        // A redirect or an empty reply (204) is no document: it must not pass as one.
        failure = QStringLiteral("Unexpected HTTP status %1").arg(status);
    }
    if (!failure.isEmpty()) {
        errorText = failure;
        qCDebug(lcNetwork) << "request failed:" << errorText;
        emit requestCompleted(false, errorText);
    } else {
        replyData = reply->readAll();
        emit requestCompleted(true, decodeBody(replyData));
    }
    // Only now: receivers of the signal run while the requesting call still waits.
    waiting = false;
}
