#pragma once

#include <QString>
#include <QVector>

// The processes running now, as the system lists them.
namespace platform {

struct RunningProcess
{
    qint64 pid = 0;
    QString image; // the program's file name, such as "csgo.exe"
    QString path;  // its image file's full path; empty when the process may not be asked
};

QVector<RunningProcess> runningProcesses();

} // namespace platform
