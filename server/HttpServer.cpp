#include "HttpServer.h"

#include "ProxyProtocol.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <strings.h>

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {
constexpr std::uint32_t kLargestHead = 16 * 1024;
constexpr std::uint64_t kLargestBody = 16 * 1024 * 1024;
// The slowest a body may arrive or an answer be taken, after the first phase's time.
constexpr std::uint64_t kBytesPerSecond = 64 * 1024;
// What a connection's read buffer may hold: a whole head, or one read of a body.
constexpr std::size_t kReadBuffer = kLargestHead + 64 * 1024;
// Bodies of every connection being received at once: each may be 16 MiB, and a thousand fast
// senders must not take the machine's memory.
constexpr std::size_t kBodiesInFlight = 256 * 1024 * 1024;
constexpr std::size_t kLongestProxyLine = 107; // the protocol's own limit, "\r\n" included
constexpr auto kCloseTime = std::chrono::seconds(2);

std::chrono::milliseconds timeFor(std::uint64_t bytes)
{
    return std::chrono::milliseconds(bytes * 1000 / kBytesPerSecond);
}

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

// The request was not HTTP, as opposed to the connection failing or timing out.
bool isHttpError(const beast::error_code &error)
{
    return error.category() == http::make_error_code(http::error::bad_method).category();
}

HttpResponse failure(int status, const char *json)
{
    HttpResponse response;
    response.status = status;
    response.setContent(json, "application/json");
    return response;
}

// A bounded pool of threads for work that waits on something else.
class WorkPool
{
public:
    WorkPool(int threads, int queueLimit) : queueLimit(static_cast<std::size_t>(queueLimit))
    {
        for (int i = 0; i < threads; ++i)
            this->threads.emplace_back([this] { work(); });
    }
    ~WorkPool()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        for (std::thread &thread : threads)
            thread.join();
    }
    // False when the queue is full: the caller answers at once rather than wait.
    bool submit(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (queue.size() >= queueLimit)
                return false;
            queue.push_back(std::move(job));
        }
        wake.notify_one();
        return true;
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [this] { return stopping || !queue.empty(); });
                if (queue.empty())
                    return;
                job = std::move(queue.front());
                queue.pop_front();
            }
            job();
        }
    }

    const std::size_t queueLimit;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    bool stopping = false;
    std::vector<std::thread> threads;
};

struct Route
{
    std::string method;
    std::string path;
    std::optional<std::regex> pattern;
    HttpServer::Runs runs;
    HttpHandler handler;
};
} // namespace

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

class Session;

// The connections of each address, and which of them wait without a complete request.
class ConnectionTable
{
public:
    explicit ConnectionTable(int cap) : cap(static_cast<std::size_t>(cap)) {}

    // Counts `session` for `address`. At the cap, the address's connection that has waited longest
    // without a complete request is cut off for it; false when all of them are at work.
    bool admit(const std::string &address, const std::shared_ptr<Session> &session);
    void setWaiting(const Session *session, const std::string &address, bool waiting);
    void remove(const Session *session, const std::string &address);

private:
    struct Entry
    {
        std::weak_ptr<Session> session;
        bool waiting = true;
        Clock::time_point since;
    };
    const std::size_t cap;
    std::mutex mutex;
    std::map<std::string, std::map<const Session *, Entry>> byAddress;
};

class HttpServer::Impl
{
public:
    explicit Impl(Settings settings)
        : settings(std::move(settings)), table(this->settings.perAddress),
          pool(this->settings.workers, this->settings.queuedRequests)
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
    void log(const std::string &line)
    {
        std::lock_guard<std::mutex> lock(logMutex);
        std::cout << line << std::endl;
    }

    const Settings settings;
    std::set<std::string> balancers; // as normalAddress gives them
    std::string problem;
    net::io_context io;
    ssl::context tls{ssl::context::tls_server};
    tcp::acceptor acceptor{io};
    net::steady_timer acceptPause{io};
    std::vector<Route> routes;
    ConnectionTable table;
    std::atomic<std::size_t> bodiesInFlight{0};
    std::mutex logMutex;
    WorkPool pool; // last: its workers end before what they use
};

// One connection, served by events on its own strand.
class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(HttpServer::Impl &server, tcp::socket socket) : server(server), stream(std::move(socket), server.tls) {}
    ~Session()
    {
        releaseBody();
        if (admitted)
            server.table.remove(this, client);
    }

    void start()
    {
        beast::error_code error;
        const tcp::endpoint peer = lowest().socket().remote_endpoint(error);
        if (error)
            return;
        client = normalAddress(peer.address().to_string());
        // One deadline for the PROXY line, the handshake and the first head together.
        lowest().expires_after(server.settings.headTime);
        if (server.balancers.count(client))
            readProxyLine();
        else
            handshake();
    }

    // From any thread: the connection ends, whatever it was doing.
    void cut()
    {
        net::post(stream.get_executor(), [self = shared_from_this()] { self->close(); });
    }

private:
    beast::tcp_stream &lowest() { return beast::get_lowest_layer(stream); }

    // A body or an answer moves at 64 KiB/s at least once its first phase is over, counted as a
    // total from `start`: `bytes` so far buy one more second each 64 KiB.
    void expireAtPace(Clock::time_point start, std::uint64_t bytes)
    {
        lowest().expires_at(start + server.settings.headTime + timeFor(bytes + kBytesPerSecond));
    }

    void readProxyLine()
    {
        lowest().async_read_some(buffer.prepare(kLongestProxyLine - buffer.size()),
                                 [self = shared_from_this()](beast::error_code error, std::size_t read) {
                                     if (error)
                                         return;
                                     self->buffer.commit(read);
                                     self->onProxyBytes();
                                 });
    }

    void onProxyBytes()
    {
        const std::string_view seen(static_cast<const char *>(buffer.data().data()), buffer.size());
        const std::size_t end = seen.find("\r\n");
        if (end == std::string_view::npos) {
            if (buffer.size() < kLongestProxyLine)
                readProxyLine();
            return; // not the balancer speaking: the connection ends
        }
        const std::optional<std::string> source = proxySource(std::string(seen.substr(0, end)));
        if (!source)
            return;
        client = *source;
        buffer.consume(end + 2); // what follows the line is the start of the handshake
        handshake();
    }

    void handshake()
    {
        if (!server.table.admit(client, shared_from_this()))
            return;
        admitted = true;
        stream.async_handshake(ssl::stream_base::server, buffer.data(),
                               [self = shared_from_this()](beast::error_code error, std::size_t used) {
                                   if (error)
                                       return;
                                   self->buffer.consume(used);
                                   self->readHead();
                               });
    }

    void readHead()
    {
        parser.emplace();
        parser->header_limit(kLargestHead);
        parser->body_limit(kLargestBody);
        if (answered > 0) {
            server.table.setWaiting(this, client, true);
            lowest().expires_after(server.settings.idleTime);
        }
        http::async_read_header(
            stream, buffer, *parser,
            [self = shared_from_this()](beast::error_code error, std::size_t) { self->onHead(error); });
    }

    void onHead(beast::error_code error)
    {
        if (error) {
            if (error == http::error::header_limit)
                return refuse(431, R"({"ok":false,"message":"the request head is larger than 16 KiB"})");
            if (error == http::error::body_limit) // as Content-Length announces it
                return refuse(413, R"({"ok":false,"message":"a report is at most 16 MiB"})");
            if (isHttpError(error) && error != http::error::end_of_stream)
                return refuse(400, R"({"ok":false,"message":"not an HTTP request"})");
            return; // gone, or too slow
        }
        server.table.setWaiting(this, client, false);
        const auto &head = parser->get();
        method = std::string(head.method_string());
        target = std::string(head.target());
        const auto encoding = head.find(http::field::content_encoding);
        if (encoding != head.end() && !beast::iequals(encoding->value(), "identity"))
            return refuse(415, R"({"ok":false,"message":"request bodies are taken without Content-Encoding"})");
        if (parser->is_done())
            return dispatch();
        bodyStart = Clock::now();
        if (beast::iequals(head[http::field::expect], "100-continue")) {
            continuing.emplace(http::status::continue_, head.version());
            lowest().expires_after(server.settings.headTime);
            http::async_write(stream, *continuing, [self = shared_from_this()](beast::error_code error, std::size_t) {
                if (!error)
                    self->readBody();
            });
            return;
        }
        readBody();
    }

    // The body arrives at 64 KiB/s at least once its first phase is over, counted as a total.
    void readBody()
    {
        expireAtPace(bodyStart, parser->get().body().size());
        http::async_read_some(
            stream, buffer, *parser,
            [self = shared_from_this()](beast::error_code error, std::size_t) { self->onBody(error); });
    }

    void onBody(beast::error_code error)
    {
        const std::size_t size = parser->get().body().size();
        server.bodiesInFlight += size - bodyCounted;
        bodyCounted = size;
        if (error == http::error::body_limit)
            return refuse(413, R"({"ok":false,"message":"a report is at most 16 MiB"})");
        if (error) {
            if (isHttpError(error))
                return refuse(400, R"({"ok":false,"message":"not an HTTP request body"})");
            return;
        }
        if (server.bodiesInFlight > kBodiesInFlight)
            return refuse(503, R"({"ok":false,"message":"the server is busy; try again shortly"})");
        if (parser->is_done())
            return dispatch();
        readBody();
    }

    void dispatch()
    {
        auto request = std::make_shared<HttpRequest>();
        auto &message = parser->get();
        request->method = method;
        request->target = target;
        const std::size_t question = std::min(target.find('?'), target.size());
        request->path = target.substr(0, question);
        if (question < target.size())
            request->params = queryParams(std::string_view(target).substr(question + 1));
        for (const auto &field : message)
            request->headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        request->body = std::move(message.body());
        request->client = client;
        keepAlive = message.keep_alive();

        const Route *route = server.find(*request, request->matches);
        if (!route) {
            HttpResponse notFound;
            notFound.status = 404;
            notFound.setContent("not found", "text/plain");
            return write(std::move(notFound));
        }
        if (server.settings.delay.count() > 0) {
            delay.emplace(stream.get_executor(), server.settings.delay);
            delay->async_wait([self = shared_from_this(), route, request](beast::error_code error) {
                if (!error)
                    self->handle(*route, request);
            });
            return;
        }
        handle(*route, request);
    }

    void handle(const Route &route, const std::shared_ptr<HttpRequest> &request)
    {
        if (route.runs == HttpServer::Runs::OnIoThread)
            return write(answer(route, *request));
        const bool queued = server.pool.submit([self = shared_from_this(), &route, request] {
            HttpResponse response = self->answer(route, *request);
            net::post(self->stream.get_executor(),
                      [self, response = std::move(response)]() mutable { self->write(std::move(response)); });
        });
        if (!queued)
            write(failure(503, R"({"ok":false,"message":"the server is busy; try again shortly"})"));
    }

    // What went wrong inside stays in the server's log: a client learns only that it did.
    HttpResponse answer(const Route &route, const HttpRequest &request)
    {
        HttpResponse response;
        try {
            route.handler(request, response);
        } catch (...) {
            server.log("request failed: " + request.method + " " + request.path);
            response = failure(500, R"({"ok":false,"message":"internal error"})");
        }
        return response;
    }

    // An answer to a request whose body is not read: the connection ends after it.
    void refuse(int status, const char *json)
    {
        keepAlive = false;
        unreadBody = true;
        write(failure(status, json));
    }

    void write(HttpResponse answer)
    {
        releaseBody();
        server.log(client + " " + (method.empty() ? "-" : method) + " " + (target.empty() ? "-" : target) + " " +
                   std::to_string(answer.status) + " " + std::to_string(answer.body->size()));
        response.emplace();
        response->version(11);
        response->result(static_cast<unsigned>(answer.status));
        response->set(http::field::content_type, answer.type);
        for (const auto &[name, value] : answer.headers)
            response->set(name, value);
        response->body() = http::span_body<const char>::value_type(answer.body->data(), answer.body->size());
        response->keep_alive(keepAlive);
        response->prepare_payload();
        body = std::move(answer.body);
        serializer.emplace(*response);
        writeStart = Clock::now();
        written = 0;
        writeSome();
    }

    // The answer is taken at 64 KiB/s at least once its first phase is over, counted as a total: a
    // client that stops reading is cut off, however large the answer.
    void writeSome()
    {
        expireAtPace(writeStart, written);
        http::async_write_some(stream, *serializer,
                               [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
                                   self->written += bytes;
                                   if (error || self->serializer->is_done())
                                       return self->onWritten(error);
                                   self->writeSome();
                               });
    }

    void onWritten(beast::error_code error)
    {
        serializer.reset();
        response.reset();
        body.reset();
        method.clear();
        target.clear();
        if (error)
            return;
        ++answered;
        if (keepAlive)
            return readHead();
        lowest().expires_after(kCloseTime);
        if (unreadBody)
            return drain();
        // The close is announced and the connection closed, without waiting for the client's own
        // announcement, which many never send.
        SSL_set_shutdown(stream.native_handle(), SSL_RECEIVED_SHUTDOWN);
        stream.async_shutdown([self = shared_from_this()](beast::error_code) { self->close(); });
    }

    // A client still sending the body of a refused request would see the connection reset, and lose
    // the answer, were it closed at once: what it sends in the close's time is read and dropped.
    void drain()
    {
        if (!scratch)
            scratch = std::make_unique<std::array<char, 16 * 1024>>();
        stream.async_read_some(net::buffer(*scratch),
                               [self = shared_from_this()](beast::error_code error, std::size_t) {
                                   if (error)
                                       return self->close();
                                   self->drain();
                               });
    }

    void close()
    {
        beast::error_code ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        lowest().close();
    }

    void releaseBody()
    {
        server.bodiesInFlight -= bodyCounted;
        bodyCounted = 0;
    }

    HttpServer::Impl &server;
    beast::ssl_stream<beast::tcp_stream> stream;
    beast::flat_buffer buffer{kReadBuffer};
    std::string client;
    bool admitted = false;
    int answered = 0;
    std::optional<http::request_parser<http::string_body>> parser;
    std::optional<http::response<http::empty_body>> continuing;
    std::optional<net::steady_timer> delay;
    std::string method;
    std::string target;
    bool keepAlive = true;
    Clock::time_point bodyStart;
    std::size_t bodyCounted = 0;
    std::optional<http::response<http::span_body<const char>>> response;
    std::shared_ptr<const std::string> body; // what `response` points into
    std::optional<http::response_serializer<http::span_body<const char>>> serializer;
    Clock::time_point writeStart;
    std::uint64_t written = 0;
    bool unreadBody = false;
    std::unique_ptr<std::array<char, 16 * 1024>> scratch;
};

bool ConnectionTable::admit(const std::string &address, const std::shared_ptr<Session> &session)
{
    std::shared_ptr<Session> victim;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto &connections = byAddress[address];
        if (connections.size() >= cap) {
            auto oldest = connections.end();
            for (auto it = connections.begin(); it != connections.end(); ++it)
                if (it->second.waiting && (oldest == connections.end() || it->second.since < oldest->second.since))
                    oldest = it;
            if (oldest == connections.end())
                return false;
            victim = oldest->second.session.lock();
            connections.erase(oldest);
        }
        connections[session.get()] = Entry{session, true, Clock::now()};
    }
    if (victim)
        victim->cut();
    return true;
}

void ConnectionTable::setWaiting(const Session *session, const std::string &address, bool waiting)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto connections = byAddress.find(address);
    if (connections == byAddress.end())
        return;
    const auto found = connections->second.find(session);
    if (found == connections->second.end())
        return;
    found->second.waiting = waiting;
    found->second.since = Clock::now();
}

void ConnectionTable::remove(const Session *session, const std::string &address)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto connections = byAddress.find(address);
    if (connections == byAddress.end())
        return;
    connections->second.erase(session);
    if (connections->second.empty())
        byAddress.erase(connections);
}

void HttpServer::Impl::accept()
{
    acceptor.async_accept(net::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
        if (!error) {
            // Small answers on kept-alive connections would otherwise wait out the client's delayed ACK.
            socket.set_option(tcp::no_delay(true), error);
            std::make_shared<Session>(*this, std::move(socket))->start();
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
