#pragma once

#include <QJsonObject>
#include <QNetworkRequest>
#include <QObject>

class QNetworkAccessManager;
class QNetworkReply;

// The program's only way to talk to the content server: one HTTPS request at a time, made to look
// synchronous by waiting for the reply while the event loop keeps the windows alive, plus the check
// of the server's JSON envelope. Call reset() before every request: an earlier error sticks.
class NetworkHelper : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(NetworkHelper)

public:
    explicit NetworkHelper(QObject *parent = nullptr);
    ~NetworkHelper() override;

    bool get(const QString &url);
    // Sends `body` to the server, under the same rules as get().
    bool post(const QString &url, const QByteArray &body, const QString &contentType);
    bool download(const QString &url, const QString &filePath);
    bool parseEnvelope(const QString &text, QJsonObject &out);
    QString replyText() const;
    QString errorString() const;
    void reset();

signals:
    void requestCompleted(bool success, QString data);

protected slots:
    void onRequestCompleted(QNetworkReply *reply);

private:
    void waitForReply(const QString &url);
    void waitForCompletion();

    QNetworkAccessManager *manager = nullptr;
    QNetworkRequest request;
    bool waiting = false;
    QString errorText;
    QByteArray replyData;
};
