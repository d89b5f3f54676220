#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

// One request as the routes see it: the head, the whole body, and who sent it.
struct HttpRequest
{
    std::string method;
    std::string target;                                       // as sent, query included
    std::string path;                                         // the target up to '?'
    std::vector<std::pair<std::string, std::string>> params;  // the query, decoded
    std::vector<std::pair<std::string, std::string>> headers; // as sent
    std::vector<std::string> matches;                         // a pattern route's groups; [0] the path
    std::string body;
    std::string client; // the examiner's address: the peer's, or the one its balancer sent

    // The first header or parameter named so (headers without regard to case); empty when none.
    std::string header(const std::string &name) const;
    bool hasParam(const std::string &name) const;
    std::string param(const std::string &name) const;
};

// An answer. The body is shared, so that a document is written to every client from one copy.
struct HttpResponse
{
    int status = 200;
    std::string type = "text/plain";
    std::shared_ptr<const std::string> body = std::make_shared<const std::string>();
    std::vector<std::pair<std::string, std::string>> headers;

    void setContent(std::string text, std::string contentType);
};

using HttpHandler = std::function<void(const HttpRequest &, HttpResponse &)>;

// The league's HTTPS server: a few I/O threads serve every connection by events, so a slow or idle
// client costs a socket and a few kilobytes, never a thread.
// - Every phase has a total deadline: the TLS handshake and the first request head `headTime`; the
//   next head on a kept-alive connection `idleTime`; a body `headTime` plus a second for every 64 KiB
//   received; an answer `headTime` plus a second for every 64 KiB of it.
// - A head holds at most 16 KiB and a body 16 MiB, counted as they arrive, chunked or not. A request
//   body with a Content-Encoding is refused with 415.
// - One address holds at most `perAddress` connections. At the cap, its connection that has waited
//   longest without a complete request gives way to the new one, so an examiner behind the same NAT
//   as a player holding slow connections still gets in.
// - Routes that wait on something else run on bounded pools of workers: those that wait on an
//   upstream (Steam) on their own, so that they never delay those that wait on the store (reports,
//   the admin pages). When a pool's queue is full, or holds one address's share, the answer is 503 at
//   once. The others run on the I/O threads.
// - Bodies being received hold at most 256 MiB together and 32 MiB of one address; when all hold the
//   budget, the largest body of the address holding most gives way. A body may be silent 10 s at most.
// - The server holds at most `connections` connections; at that cap, the longest-waiting connection
//   of the address holding most gives way.
// Behind a TCP balancer named in `balancers`, each connection starts with a PROXY protocol (version 1)
// line carrying the examiner's address, which is then the one limited and logged.
class HttpServer
{
public:
    struct Settings
    {
        std::string cert;
        std::string key;
        int perAddress = 256;
        std::chrono::seconds headTime{10};
        std::chrono::seconds idleTime{30};
        std::set<std::string> balancers;
        std::chrono::milliseconds delay{0}; // held back before each answer, to show a slow network
        int workers = 32;
        int queuedRequests = 512;
        int upstreamWorkers = 16;
        int queuedUpstream = 256;
        int queuedPerAddress = 64; // in each pool
        int connections = 10000;
    };
    enum class Runs {
        OnIoThread,        // answers from memory or a file, never waiting on anything else
        OnWorkers,         // waits on the store
        OnUpstreamWorkers, // waits on Steam
    };

    explicit HttpServer(Settings settings);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Empty when the certificate and key are usable, otherwise why not.
    const std::string &configurationError() const;

    // `path` is matched whole; a pattern route's groups go to HttpRequest::matches.
    void route(const std::string &method, const std::string &path, Runs runs, HttpHandler handler);
    void routePattern(const std::string &method, const std::string &pattern, Runs runs, HttpHandler handler);

    // Listens on `address`:`port`; false with `error` set when it cannot.
    bool listen(const std::string &address, int port, std::string &error);
    // Serves until the process ends.
    void run();

    class Impl; // the event loop, shared with the connections it serves

private:
    std::unique_ptr<Impl> impl;
};
