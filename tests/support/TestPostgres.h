#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// A throwaway PostgreSQL cluster from Debian's packages, listening on loopback only, in a folder of its
// own that goes with it. PostgreSQL refuses to run as root, so a root test runs it as the package's
// postgres user. Clients log in with a password kept in a password file, as a league would.
class TestPostgres
{
public:
    // A durable cluster syncs its writes to disk as a league's would; a test's needs not.
    explicit TestPostgres(bool durable = false);
    ~TestPostgres();
    TestPostgres(const TestPostgres &) = delete;
    TestPostgres &operator=(const TestPostgres &) = delete;

    // Makes the cluster, starts it and creates the databases named; false with errorString().
    bool create(const QStringList &databases);
    bool start();
    bool stop();

    // The connection URI of `database`, without its password.
    QString uri(const QString &database) const;
    // The environment a client needs: the password file.
    QProcessEnvironment environment() const;
    // Runs one statement in `database` through psql; its rows, unaligned, one a line.
    bool sql(const QString &database, const QString &statement, QByteArray *rows = nullptr);
    QString errorString() const { return error; }

private:
    bool run(const QString &program, const QStringList &arguments, bool asOwner, QByteArray *output = nullptr);

    QTemporaryDir folder;
    int port = 0;
    bool durable;
    bool running = false;
    QString error;
};
