#pragma once

#include "HttpServerImpl.h"

#include <memory>

// One connection, served by events on its own strand through each phase's deadline.
class HttpSession;

// Serves the connection `socket` until it ends.
void serveConnection(HttpServer::Impl &server, tcp::socket socket);
// From any thread: the connection ends, whatever it was doing.
void cutConnection(const std::shared_ptr<HttpSession> &session);
