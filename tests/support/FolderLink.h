#pragma once

#include <QString>

// Makes `link` a folder that leads to the folder `target`, as a player would: a junction on Windows
// (no rights needed), a symbolic link elsewhere. False with `error` set when the system cannot.
bool makeFolderLink(const QString &link, const QString &target, QString &error);
