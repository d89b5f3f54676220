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

class ScopedEnvironment;

// Loads the process-wide content loader from the server at the compiled-in URL, with the temporary
// folder at `folder`/tmp and a registry stand-in `folder`/registry.reg holding `registry` (nothing
// but the export header when empty). Warnings about missing folders are closed. False on failure,
// with the loader's error text.
bool loadProcessWideLoader(ScopedEnvironment &environment, const QString &folder, const QByteArray &registry);
