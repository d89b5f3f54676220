#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TestPki;

namespace httplib {
class SSLServer;
struct Request;
} // namespace httplib

// An HTTPS server on 127.0.0.1 running in a thread of the test process, answering each path (GET or
// POST) with a reply the test sets (status, body, delay). It records every request target it receives.
class TestServer
{
public:
    struct Reply
    {
        int status = 200;
        QByteArray body;
        int delayMs = 0;
        int trickleMs = 0; // above 0: the body goes one byte at a time, this far apart
    };
    using Handler = std::function<Reply(const std::string &target, const std::string &query)>;

    explicit TestServer(const TestPki &pki);
    ~TestServer();

    // Listens on the given port (0: any free one). False when the port cannot be bound.
    bool start(int port = 0);
    // Listens where the program's compiled-in content server URL points, when that is on loopback.
    bool startAtContentServerUrl();
    void stop();

    QString baseUrl() const;
    int port() const { return boundPort; }

    // `path` is relative to the base URL, such as "version" or "unzip/exe".
    void setReply(const QString &path, const Reply &reply);
    void setReply(const QString &path, const QByteArray &body) { setReply(path, Reply{200, body, 0}); }
    void setHandler(const QString &path, Handler handler);
    void setDelay(int delayMs);
    QStringList requests() const;
    // The bodies of the requests to `path` ("report"), in order.
    QList<QByteArray> bodiesOf(const QString &path) const;

    // The port of the compiled-in URL when its host is loopback, otherwise 0.
    static int contentServerLoopbackPort();

private:
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    mutable std::mutex mutex;
    std::map<std::string, Handler> handlers;
    QStringList received;
    QList<QPair<QString, QByteArray>> bodies;
    int boundPort = 0;
    int extraDelayMs = 0;
};

// In a test function: a loopback server on a free port, whose throwaway CA this process trusts.
#define VIGILOR_START_TEST_SERVER(pki, server)                                                                         \
    do {                                                                                                               \
        QVERIFY((pki).isValid());                                                                                      \
        (pki).trustInThisProcess();                                                                                    \
        (server) = std::make_unique<TestServer>(pki);                                                                  \
        QVERIFY((server)->start());                                                                                    \
    } while (false)

// The same where the program's compiled-in content server URL points, for tests of the process-wide
// loader; skips the test when that URL is not on loopback.
#define VIGILOR_START_TEST_SERVER_AT_BUILD_URL(pki, server)                                                            \
    do {                                                                                                               \
        if (TestServer::contentServerLoopbackPort() == 0)                                                              \
            QSKIP("the program is built for a content server that is not on loopback");                                \
        QVERIFY((pki).isValid());                                                                                      \
        (pki).trustInThisProcess();                                                                                    \
        (server) = std::make_unique<TestServer>(pki);                                                                  \
        QVERIFY2((server)->startAtContentServerUrl(), "the content server's port is taken");                           \
    } while (false)
