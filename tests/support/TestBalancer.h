#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's nginx as the TCP balancer the README shows (the shipped stream configuration with this
// run's ports) in front of servers on loopback, in a folder of its own.
class TestBalancer
{
public:
    ~TestBalancer();

    // Starts nginx on a free loopback port in front of `serverPorts` and waits until it listens.
    bool start(const QString &streamConfiguration, const QList<int> &serverPorts);
    int port() const { return listening; }

private:
    QTemporaryDir folder;
    QProcess nginx;
    int listening = 0;
};
