#include "TestServer.h"

#include "TestPki.h"
#include "content/ServerConfig.h"

#include <httplib.h>

#include <QUrl>

#include <chrono>

TestServer::TestServer(const TestPki &pki)
    : server(std::make_unique<httplib::SSLServer>(pki.certPath().toLocal8Bit().constData(),
                                                  pki.keyPath().toLocal8Bit().constData()))
{
    // Short keep-alive so that stopping does not wait for idle connections of the client.
    server->set_keep_alive_timeout(1);
    const auto answer = [this](const httplib::Request &request, httplib::Response &response) {
        Handler handler;
        int delayMs = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            received.append(QString::fromStdString(request.target));
            if (!request.body.empty())
                bodies.append(
                    {QString::fromStdString(request.path.substr(1)), QByteArray::fromStdString(request.body)});
            const auto found = handlers.find(request.path.substr(1));
            if (found != handlers.end())
                handler = found->second;
            delayMs = extraDelayMs;
        }
        std::string query;
        const auto question = request.target.find('?');
        if (question != std::string::npos)
            query = request.target.substr(question + 1);
        const Reply reply = handler ? handler(request.target, query) : Reply{404, "not found", 0};
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs + delayMs));
        response.status = reply.status;
        if (reply.trickleMs > 0) {
            auto body = std::make_shared<std::string>(reply.body.toStdString());
            response.set_chunked_content_provider("application/octet-stream",
                                                  [body, pause = std::chrono::milliseconds(reply.trickleMs)](
                                                      std::size_t offset, httplib::DataSink &sink) {
                                                      if (offset >= body->size()) {
                                                          sink.done();
                                                          return true;
                                                      }
                                                      std::this_thread::sleep_for(pause);
                                                      return sink.write(body->data() + offset, 1);
                                                  });
            return;
        }
        response.set_content(reply.body.toStdString(), "application/octet-stream");
    };
    server->Get(".*", answer);
    server->Post(".*", answer);
}

TestServer::~TestServer()
{
    stop();
}

bool TestServer::start(int port)
{
    if (!server->is_valid())
        return false;
    if (port == 0) {
        boundPort = server->bind_to_any_port("127.0.0.1");
    } else {
        boundPort = server->bind_to_port("127.0.0.1", port) ? port : 0;
    }
    if (boundPort <= 0) {
        boundPort = 0;
        return false;
    }
    thread = std::thread([this] { server->listen_after_bind(); });
    while (!server->is_running())
        std::this_thread::yield();
    return true;
}

bool TestServer::startAtContentServerUrl()
{
    const int port = contentServerLoopbackPort();
    return port > 0 && start(port);
}

void TestServer::stop()
{
    if (thread.joinable()) {
        server->stop();
        thread.join();
    }
}

QString TestServer::baseUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1/").arg(boundPort);
}

void TestServer::setReply(const QString &path, const Reply &reply)
{
    setHandler(path, [reply](const std::string &, const std::string &) { return reply; });
}

void TestServer::setHandler(const QString &path, Handler handler)
{
    std::lock_guard<std::mutex> lock(mutex);
    handlers[path.toStdString()] = std::move(handler);
}

void TestServer::setDelay(int delayMs)
{
    std::lock_guard<std::mutex> lock(mutex);
    extraDelayMs = delayMs;
}

QStringList TestServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

QList<QByteArray> TestServer::bodiesOf(const QString &path) const
{
    std::lock_guard<std::mutex> lock(mutex);
    QList<QByteArray> found;
    for (const auto &body : bodies) {
        if (body.first == path)
            found.append(body.second);
    }
    return found;
}

int TestServer::contentServerLoopbackPort()
{
    const QUrl url(QString::fromUtf8(kContentServerUrl));
    const QString host = url.host();
    if (host != QLatin1String("127.0.0.1") && host != QLatin1String("localhost"))
        return 0;
    return url.port(443);
}
