#pragma once

#include <QProcess>
#include <QStringList>

#include <memory>
#include <string>

class TestPki;

#include <QByteArray>
#include <QString>

class TestServer;
class QSslSocket;

class ScopedEnvironment;

// Points the process's temporary folder at `folder`, on every system.
void setTemporaryFolder(ScopedEnvironment &environment, const QString &folder);

// Serves a complete and valid set of the seven start-up documents: version `version`, no rules, a
// message of the day, the unpacking tool and a pack with the six tool stand-ins. False when the
// unpacking tool cannot be read.
bool serveCompleteContent(TestServer &server, const QString &version = QStringLiteral("0.0.1"));

// The envelope {"ok":true, member: value} as JSON bytes; `value` is raw JSON.
QByteArray okEnvelope(const char *member, const QByteArray &value);

// Loads the process-wide content loader from the server at the compiled-in URL, with the temporary
// folder at `folder`/tmp and a registry stand-in `folder`/registry.reg holding `registry` (nothing
// but the export header when empty). Warnings about missing folders are closed. False on failure,
// with the loader's error text.
bool loadProcessWideLoader(ScopedEnvironment &environment, const QString &folder, const QByteArray &registry);

// Starts the reference content server `program` on a free loopback port with `extra` options and waits
// until it listens.
bool startContentServer(QProcess &process, const QString &program, const TestPki &pki, const QString &content,
                        const QStringList &extra, int &port);

// Waits until something listens on loopback `port`, ten seconds at most.
bool waitUntilListening(int port);

// A TLS connection from the loopback address `source` to `port`, trusting what the process trusts;
// not encrypted (its error string says why) when it could not be made within 5 s.
std::unique_ptr<QSslSocket> connectFrom(const QString &source, int port);
// Writes `bytes` to `socket` and waits until they have left it, 5 s at most between pieces.
void sendAll(QSslSocket &socket, const QByteArray &bytes);

// The whole answer to `GET /version` over a TLS connection of its own from the loopback address
// `source` to `port`, trusting what the process trusts.
QByteArray getVersionFrom(const QString &source, int port);

// The same for `path`, with the header lines `headers` ("Name: value\r\n" each).
QByteArray getFrom(const QString &source, int port, const QByteArray &path, const QByteArray &headers = {});
// Any request ("POST /report"), with `body` when it is not null.
QByteArray requestFrom(const QString &source, int port, const QByteArray &requestLine, const QByteArray &headers,
                       const QByteArray &body);

// The answer of Steam's GetPlayerBans, as documented, to the query string `query`: the ids ending
// in 1 VAC-banned 42 days ago, the others clean.
QByteArray steamPlayerBans(const std::string &query);
