#include "TestBalancer.h"

#include "ServerContent.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QTcpServer>

TestBalancer::~TestBalancer()
{
    nginx.terminate();
    nginx.waitForFinished();
}

bool TestBalancer::start(const QString &streamConfiguration, const QList<int> &serverPorts)
{
    QFile shipped(streamConfiguration);
    QTcpServer probe;
    if (!folder.isValid() || !shipped.open(QIODevice::ReadOnly) || !probe.listen(QHostAddress::LocalHost))
        return false;
    listening = probe.serverPort();
    probe.close();
    // The shipped file names two servers on 8444 and 8445 behind 8443.
    QByteArray stream =
        shipped.readAll().replace("listen 8443;", "listen 127.0.0.1:" + QByteArray::number(listening) + ";");
    const QByteArray shippedServers[] = {"127.0.0.1:8444", "127.0.0.1:8445"};
    for (int i = 0; i < serverPorts.size() && i < 2; ++i)
        stream.replace(shippedServers[i], "127.0.0.1:" + QByteArray::number(serverPorts[i]));
    if (serverPorts.size() < 2)
        stream.replace("    server 127.0.0.1:8445 max_fails=1 fail_timeout=5s;\n", "");
    const QByteArray streamPath = QFile::encodeName(folder.filePath(QStringLiteral("vigilor-stream.conf")));
    if (!writeFile(QString::fromLocal8Bit(streamPath), stream) ||
        !writeFile(folder.filePath(QStringLiteral("nginx.conf")),
                   "load_module /usr/lib/nginx/modules/ngx_stream_module.so;\ndaemon off;\nworker_processes 1;\n"
                   "pid " +
                       QFile::encodeName(folder.filePath(QStringLiteral("nginx.pid"))) +
                       ";\nevents { worker_connections 512; }\nstream { include " + streamPath + "; }\n"))
        return false;
    nginx.setProcessChannelMode(QProcess::ForwardedChannels);
    nginx.start(QStringLiteral("nginx"), {QStringLiteral("-p"), folder.path(), QStringLiteral("-e"),
                                          folder.filePath(QStringLiteral("error.log")), QStringLiteral("-c"),
                                          folder.filePath(QStringLiteral("nginx.conf"))});
    return nginx.waitForStarted() && waitUntilListening(listening);
}
