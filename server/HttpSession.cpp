#include "HttpSession.h"

#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <array>

namespace http = beast::http;
using Clock = std::chrono::steady_clock;

namespace {
constexpr std::uint32_t kLargestHead = 16 * 1024;
constexpr std::uint64_t kLargestBody = 16 * 1024 * 1024;
// The slowest a body may arrive or an answer be taken, after the first phase's time.
constexpr std::uint64_t kBytesPerSecond = 64 * 1024;
// What a connection's read buffer may hold: a whole head, or one read of a body.
constexpr std::size_t kReadBuffer = kLargestHead + 64 * 1024;
// The longest a body may be silent, whatever it sent before: sending early buys no silence.
constexpr auto kLongestSilence = std::chrono::seconds(10);
constexpr std::size_t kLongestProxyLine = 107; // the protocol's own limit, "\r\n" included
constexpr auto kCloseTime = std::chrono::seconds(2);

std::chrono::milliseconds timeFor(std::uint64_t bytes)
{
    return std::chrono::milliseconds(bytes * 1000 / kBytesPerSecond);
}

// The request was not HTTP, as opposed to the connection failing or timing out.
bool isHttpError(const beast::error_code &error)
{
    return error.category() == http::make_error_code(http::error::bad_method).category();
}

} // namespace

// One connection, served by events on its own strand.
class HttpSession : public std::enable_shared_from_this<HttpSession>
{
public:
    HttpSession(HttpServer::Impl &server, tcp::socket socket) : server(server), stream(std::move(socket), server.tls) {}
    ~HttpSession()
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
    Clock::time_point pacedDeadline(Clock::time_point start, std::uint64_t bytes) const
    {
        return start + server.settings.headTime + timeFor(bytes + kBytesPerSecond);
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

    // The body arrives at 64 KiB/s at least once its first phase is over, counted as a total, and is
    // never silent longer than kLongestSilence, whatever it sent before.
    void readBody()
    {
        lowest().expires_at(
            std::min(pacedDeadline(bodyStart, parser->get().body().size()), Clock::now() + kLongestSilence));
        http::async_read_some(
            stream, buffer, *parser,
            [self = shared_from_this()](beast::error_code error, std::size_t) { self->onBody(error); });
    }

    void onBody(beast::error_code error)
    {
        const std::size_t size = parser->get().body().size();
        const bool held = server.table.holdBody(this, client, size);
        bodyCounted = size;
        if (error == http::error::body_limit)
            return refuse(413, R"({"ok":false,"message":"a report is at most 16 MiB"})");
        if (error) {
            if (isHttpError(error))
                return refuse(400, R"({"ok":false,"message":"not an HTTP request body"})");
            return;
        }
        if (!held)
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
        WorkPool &pool = route.runs == HttpServer::Runs::OnUpstreamWorkers ? server.upstreamPool : server.pool;
        const bool queued = pool.submit(client, [self = shared_from_this(), &route, request] {
            HttpResponse response = self->answer(route, *request);
            net::post(self->stream.get_executor(),
                      [self, response = std::move(response)]() mutable { self->write(std::move(response)); });
        });
        if (!queued)
            write(jsonResponse(503, R"({"ok":false,"message":"the server is busy; try again shortly"})"));
    }

    // What went wrong inside stays in the server's log: a client learns only that it did.
    HttpResponse answer(const Route &route, const HttpRequest &request)
    {
        HttpResponse response;
        try {
            route.handler(request, response);
        } catch (...) {
            server.log("request failed: " + request.method + " " + request.path);
            response = jsonResponse(500, R"({"ok":false,"message":"internal error"})");
        }
        return response;
    }

    // An answer to a request whose body is not read: the connection ends after it.
    void refuse(int status, const char *json)
    {
        keepAlive = false;
        unreadBody = true;
        write(jsonResponse(status, json));
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
        lowest().expires_at(pacedDeadline(writeStart, written));
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
        if (bodyCounted > 0 && admitted)
            server.table.holdBody(this, client, 0);
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

void serveConnection(HttpServer::Impl &server, tcp::socket socket)
{
    std::make_shared<HttpSession>(server, std::move(socket))->start();
}

void cutConnection(const std::shared_ptr<HttpSession> &session)
{
    session->cut();
}
