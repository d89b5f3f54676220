// vigilor-test-recorder: a stand-in for outside programs (utilities, taskkill, the file manager, the
// unpacking tool) that runs on every system the tests run on. A copy reads "<its own path>.record",
// lines of key=value:
//   log=FILE       append one line per start to FILE: "NAME [arg]..." with name=NAME, else the
//                  arguments joined by spaces
//   behaviour=hang | crash | ask   sleep two minutes; crash; or read standard input and exit 0 at its
//                  end, 3 when an answer arrives
// Without the file it does nothing and exits 0.

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QStringList>
#include <QThread>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QFile settings(QCoreApplication::applicationFilePath() + QStringLiteral(".record"));
    if (!settings.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    QString log;
    QString name;
    QString behaviour;
    for (const QString &line : QString::fromUtf8(settings.readAll()).split(QLatin1Char('\n'))) {
        const QString key = line.section(QLatin1Char('='), 0, 0);
        const QString value = line.section(QLatin1Char('='), 1);
        if (key == QLatin1String("log"))
            log = value;
        else if (key == QLatin1String("name"))
            name = value;
        else if (key == QLatin1String("behaviour"))
            behaviour = value;
    }

    if (!log.isEmpty()) {
        const QStringList arguments = QCoreApplication::arguments().mid(1);
        QString line = name;
        for (const QString &argument : arguments)
            line += name.isEmpty() ? (line.isEmpty() ? argument : QLatin1Char(' ') + argument)
                                   : QStringLiteral(" [%1]").arg(argument);
        // Starts running side by side take turns: appending is not atomic on Windows, where two
        // writers at the same end of the file would overwrite each other's line.
        QLockFile lock(log + QStringLiteral(".lock"));
        lock.lock();
        QFile file(log);
        if (file.open(QIODevice::Append))
            file.write((line + QLatin1Char('\n')).toUtf8());
    }

    if (behaviour == QLatin1String("hang")) {
        QThread::sleep(120);
    } else if (behaviour == QLatin1String("crash")) {
        volatile int *nowhere = nullptr;
        *nowhere = 1;
    } else if (behaviour == QLatin1String("ask")) {
        char answer[16];
        return std::fgets(answer, sizeof answer, stdin) ? 3 : 0;
    }
    return 0;
}
