#include "HttpServer.h"

#include "HttpServerImpl.h"
#include "HttpSession.h"

#include <thread>

#include <strings.h>

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A query's part with %XX and '+' decoded; a '%' not followed by two hex digits stays as it is.
std::string decoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::vector<std::pair<std::string, std::string>> queryParams(std::string_view query)
{
    std::vector<std::pair<std::string, std::string>> params;
    while (!query.empty()) {
        const std::size_t end = std::min(query.find('&'), query.size());
        const std::string_view item = query.substr(0, end);
        const std::size_t equals = std::min(item.find('='), item.size());
        if (!item.empty())
            params.emplace_back(decoded(item.substr(0, equals)),
                                equals < item.size() ? decoded(item.substr(equals + 1)) : std::string());
        query.remove_prefix(std::min(end + 1, query.size()));
    }
    return params;
}

HttpResponse jsonResponse(int status, const char *json)
{
    HttpResponse response;
    response.status = status;
    response.setContent(json, "application/json");
    return response;
}

std::string HttpRequest::header(const std::string &name) const
{
    for (const auto &[key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return std::string();
}

bool HttpRequest::hasParam(const std::string &name) const
{
    for (const auto &entry : params)
        if (entry.first == name)
            return true;
    return false;
}

std::string HttpRequest::param(const std::string &name) const
{
    for (const auto &[key, value] : params)
        if (key == name)
            return value;
    return std::string();
}

void HttpResponse::setContent(std::string text, std::string contentType)
{
    body = std::make_shared<const std::string>(std::move(text));
    type = std::move(contentType);
}

void HttpServer::Impl::accept()
{
    acceptor.async_accept(net::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
        if (!error) {
            // Small answers on kept-alive connections would otherwise wait out the client's delayed ACK.
            socket.set_option(tcp::no_delay(true), error);
            serveConnection(*this, std::move(socket));
        } else if (error == net::error::no_descriptors || error == net::error::no_buffer_space) {
            // Out of sockets for a moment: the deadlines free some soon.
            acceptPause.expires_after(std::chrono::milliseconds(100));
            acceptPause.async_wait([this](beast::error_code) { accept(); });
            return;
        }
        accept();
    });
}

const Route *HttpServer::Impl::find(const HttpRequest &request, std::vector<std::string> &matches) const
{
    for (const Route &route : routes) {
        if (route.method != request.method)
            continue;
        if (!route.pattern) {
            if (route.path == request.path)
                return &route;
            continue;
        }
        std::smatch match;
        if (std::regex_match(request.path, match, *route.pattern)) {
            matches.assign(match.begin(), match.end());
            return &route;
        }
    }
    return nullptr;
}

HttpServer::HttpServer(Settings settings) : impl(std::make_unique<Impl>(std::move(settings))) {}

HttpServer::~HttpServer() = default;

const std::string &HttpServer::configurationError() const
{
    return impl->problem;
}

void HttpServer::route(const std::string &method, const std::string &path, Runs runs, HttpHandler handler)
{
    impl->routes.push_back(Route{method, path, std::nullopt, runs, std::move(handler)});
}

void HttpServer::routePattern(const std::string &method, const std::string &pattern, Runs runs, HttpHandler handler)
{
    impl->routes.push_back(Route{method, pattern, std::regex(pattern), runs, std::move(handler)});
}

bool HttpServer::listen(const std::string &address, int port, std::string &error)
{
    beast::error_code code;
    const net::ip::address ip = net::ip::make_address(address, code);
    if (code) {
        error = "not an address: " + address;
        return false;
    }
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    impl->acceptor.open(endpoint.protocol(), code);
    if (!code)
        impl->acceptor.set_option(net::socket_base::reuse_address(true), code);
    if (!code && ip.is_v6())
        impl->acceptor.set_option(net::ip::v6_only(false), code); // "::" takes IPv4 examiners too
    if (!code)
        impl->acceptor.bind(endpoint, code);
    if (!code)
        impl->acceptor.listen(net::socket_base::max_listen_connections, code);
    if (code) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + " (" + code.message() + ")";
        return false;
    }
    return true;
}

void HttpServer::run()
{
    impl->accept();
    const unsigned count = std::max(2u, std::thread::hardware_concurrency());
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < count; ++i)
        threads.emplace_back([this] { impl->io.run(); });
    impl->io.run();
    for (std::thread &thread : threads)
        thread.join();
}
