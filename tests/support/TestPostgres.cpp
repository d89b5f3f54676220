#include "TestPostgres.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <pwd.h>
#include <unistd.h>

namespace {
const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
const QString kUser = QStringLiteral("vigilor");
const QByteArray kPassword = "throwaway-7c1d";

bool runningAsRoot()
{
    return geteuid() == 0;
}
} // namespace

TestPostgres::TestPostgres(bool durable) : durable(durable) {}

TestPostgres::~TestPostgres()
{
    if (running)
        stop();
}

bool TestPostgres::run(const QString &program, const QStringList &arguments, bool asOwner, QByteArray *output)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (asOwner && runningAsRoot())
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} +
                          arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    if (output)
        *output = process.readAll();
    return true;
}

bool TestPostgres::create(const QStringList &databases)
{
    if (!folder.isValid())
        return false;
    QFile password(folder.filePath(QStringLiteral("password")));
    QFile passFile(folder.filePath(QStringLiteral("pgpass")));
    if (!password.open(QIODevice::WriteOnly) || password.write(kPassword + "\n") < 0 ||
        !passFile.open(QIODevice::WriteOnly) ||
        passFile.write("127.0.0.1:*:*:" + kUser.toUtf8() + ":" + kPassword + "\n") < 0)
        return false;
    password.close();
    passFile.close();
    passFile.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (runningAsRoot()) {
        const passwd *owner = getpwnam("postgres");
        if (!owner) {
            error = QStringLiteral("no postgres user: is the postgresql package installed?");
            return false;
        }
        for (const QString &path : {folder.path(), password.fileName()})
            if (chown(QFile::encodeName(path).constData(), owner->pw_uid, owner->pw_gid) != 0)
                return false;
    }
    if (!run(kBin + QStringLiteral("initdb"),
             {QStringLiteral("-D"), folder.filePath(QStringLiteral("data")), QStringLiteral("-U"), kUser,
              QStringLiteral("--pwfile=") + password.fileName(), QStringLiteral("-A"), QStringLiteral("scram-sha-256"),
              QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
             true))
        return false;
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return false;
    port = probe.serverPort();
    probe.close();
    if (!start())
        return false;
    for (const QString &database : databases)
        if (!sql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE ") + database))
            return false;
    return true;
}

bool TestPostgres::start()
{
    running = run(kBin + QStringLiteral("pg_ctl"),
                  {QStringLiteral("-D"), folder.filePath(QStringLiteral("data")), QStringLiteral("-l"),
                   folder.filePath(QStringLiteral("log")), QStringLiteral("-w"), QStringLiteral("-o"),
                   QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=%3 -c max_connections=200")
                       .arg(port)
                       .arg(folder.path(), durable ? QStringLiteral("on") : QStringLiteral("off")),
                   QStringLiteral("start")},
                  true);
    return running;
}

bool TestPostgres::stop()
{
    running = false;
    return run(kBin + QStringLiteral("pg_ctl"),
               {QStringLiteral("-D"), folder.filePath(QStringLiteral("data")), QStringLiteral("-w"),
                QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("stop")},
               true);
}

QString TestPostgres::uri(const QString &database) const
{
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(kUser).arg(port).arg(database);
}

QProcessEnvironment TestPostgres::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGPASSFILE"), folder.filePath(QStringLiteral("pgpass")));
    return environment;
}

bool TestPostgres::sql(const QString &database, const QString &statement, QByteArray *rows)
{
    return run(QStringLiteral("psql"),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), uri(database),
                QStringLiteral("-c"), statement},
               false, rows);
}
