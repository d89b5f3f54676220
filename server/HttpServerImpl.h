#pragma once

#include "ConnectionTable.h"
#include "HttpServer.h"
#include "LogWriter.h"
#include "ProxyProtocol.h"
#include "WorkPool.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>

#include <atomic>
#include <iostream>
#include <mutex>
#include <optional>
#include <regex>

// What the server's parts share: the event loop, its settings and limits, the routes, the
// connections' table and the workers.

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

struct Route
{
    std::string method;
    std::string path;
    std::optional<std::regex> pattern;
    HttpServer::Runs runs;
    HttpHandler handler;
};
// A query's parameters, each name and value with %XX and '+' decoded.
std::vector<std::pair<std::string, std::string>> queryParams(std::string_view query);

// An answer of `status` with the JSON text `json`.
HttpResponse jsonResponse(int status, const char *json);

class HttpServer::Impl
{
public:
    explicit Impl(Settings settings)
        : settings(std::move(settings)), table(this->settings.perAddress, this->settings.connections),
          logWriter(std::cout),
          pool(this->settings.workers, this->settings.queuedRequests, this->settings.queuedPerAddress),
          upstreamPool(this->settings.upstreamWorkers, this->settings.queuedUpstream, this->settings.queuedPerAddress)
    {
        for (const std::string &balancer : this->settings.balancers)
            balancers.insert(normalAddress(balancer));
        tls.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                        ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
        // An idle connection keeps no TLS buffers.
        SSL_CTX_set_mode(tls.native_handle(), SSL_MODE_RELEASE_BUFFERS);
        beast::error_code error;
        tls.use_certificate_chain_file(this->settings.cert, error);
        if (!error)
            tls.use_private_key_file(this->settings.key, ssl::context::pem, error);
        if (error || SSL_CTX_check_private_key(tls.native_handle()) != 1)
            problem = "cannot use the certificate " + this->settings.cert + " with the key " + this->settings.key;
    }

    void accept();
    const Route *find(const HttpRequest &request, std::vector<std::string> &matches) const;
    void log(std::string line) { logWriter.write(std::move(line)); }

    const Settings settings;
    std::set<std::string> balancers; // as normalAddress gives them
    std::string problem;
    net::io_context io;
    ssl::context tls{ssl::context::tls_server};
    tcp::acceptor acceptor{io};
    net::steady_timer acceptPause{io};
    std::vector<Route> routes;
    ConnectionTable table;
    LogWriter logWriter;
    // Last: their workers end before what they use.
    WorkPool pool;
    WorkPool upstreamPool;
};
