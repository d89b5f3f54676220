#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

class TestServer;

// A zip archive of the given files (relative path -> content), made with the zip tool in a scratch
// folder below `workDir`; empty when that fails. Shell scripts keep their exec bit.
QByteArray makeZip(const QString &workDir, const QMap<QString, QByteArray> &files);

// Serves a complete and valid set of the seven start-up documents: version `version`, no rules, a
// message of the day, the system's unzip as the unpacking tool and a pack with the six tool stand-ins.
// Returns false when the pack cannot be made.
bool serveCompleteContent(TestServer &server, const QString &workDir, const QString &version = QStringLiteral("0.0.1"));

// The envelope {"ok":true, member: value} as JSON bytes; `value` is raw JSON.
QByteArray okEnvelope(const char *member, const QByteArray &value);
